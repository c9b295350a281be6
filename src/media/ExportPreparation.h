#pragma once

#include <QString>

struct ExportProperties;

// What happens to an export request before its export tasks start and
// after they have ended, on the caller's thread: the checks, names and
// folders, the journal and the lock on the output; then the removal of the
// temporary files and of what a failed or cancelled export left at the
// output.
class ExportPreparation
{
public:
    // Checks and completes a request before its export starts: formats,
    // streams, names, the temporary folder and the output folder, and takes
    // the lock on the output, which another running export may hold (then
    // the request is refused). Returns an error message, empty on success.
    static QString PreExportInitialization(ExportProperties* properties);
    // Removes the temporary files and folder of an ended export, and what a
    // failed or cancelled export left at the output; files a forced image
    // sequence replaced are deleted after a success and put back otherwise,
    // each only while it is still the file the export left there. Releases
    // the lock on the output.
    // Returns an error message, empty on success; `summary` receives a line
    // on the replaced files (empty when there were none).
    static QString PostExportCleanup(ExportProperties* properties, QString* summary = nullptr);

private:
    // Preparation steps: the refusal of a sequence that would write over
    // existing pictures, the journal, and the lock on the output (empty
    // when taken).
    static QString RefuseExistingImages(ExportProperties const* properties);
    static void OutputLockTarget(ExportProperties const* properties, QString& folder, QString& name);
    static QString BeginJournal(ExportProperties* properties);
    static QString LockOutput(ExportProperties* properties);
};
