#include "app/ProcessEnd.h"

#include <QCoreApplication>

// Every test program with an application object: once that object is gone
// (the test object before it), the status main() returns ends the process at
// once, as the player ends. A test run that passed is not turned into a crash
// by the sound library's exit-time teardown.
namespace
{
void EndOnExit()
{
    ProcessEnd::AtExit();
}

void EndOnExitOnceTheApplicationIsGone()
{
    qAddPostRoutine(EndOnExit);
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(EndOnExitOnceTheApplicationIsGone)
