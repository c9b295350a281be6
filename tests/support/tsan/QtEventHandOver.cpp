// Linked into every test program of the ThreadSanitizer build only.
//
// A queued signal hands its arguments, and everything its sender wrote
// before emitting it, to the thread that receives it: Qt posts the call under
// the receiving thread's post-event mutex and that thread takes it under the
// same mutex. Debian's Qt is not built with ThreadSanitizer and that mutex is
// a futex, so the sanitizer never sees the hand-over and reports every
// argument as a race. This file tells it about the hand-over: each signal
// emission releases, and each queued call a thread receives acquires, one
// common synchronisation object. (Coarser than Qt's per-thread mutex: an
// emission orders the sender's earlier writes before any later queued call on
// any thread. Direct access to shared state, which is what we look for, is
// still seen.)
//
// A call queued with QMetaObject::invokeMethod on a function (not a signal)
// is posted the same way but emits nothing: its slot object, made by the
// caller, and all the caller wrote before would be reported as racing with
// the receiver that runs and deletes it. Qt Core's entry point for such calls
// is taken over here to release the same object before it posts.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

// Qt's signal spy hooks, as Qt Core exports them (declared in its private
// qobject_p.h, which Debian does not install; the layout is Qt 6's).
struct QSignalSpyCallbackSet
{
    using BeginCallback = void (*)(QObject* caller, int signalOrMethodIndex, void** argv);
    using EndCallback = void (*)(QObject* caller, int signalOrMethodIndex);
    BeginCallback signal_begin_callback;
    BeginCallback slot_begin_callback;
    EndCallback signal_end_callback;
    EndCallback slot_end_callback;
};
void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet* callbackSet);

namespace
{
char gQueuedCalls;

// Before the emission for what the sender wrote, after it for the copies of
// the arguments the queued calls carry.
void SignalEmitting(QObject*, int, void**)
{
    __tsan_release(&gQueuedCalls);
}

void SignalEmitted(QObject*, int)
{
    __tsan_release(&gQueuedCalls);
}

bool EventDelivered(void** data)
{
    auto const* event = static_cast<QEvent const*>(data[1]);
    if (event && event->type() == QEvent::MetaCall)
    {
        __tsan_acquire(&gQueuedCalls);
    }
    return false; // the event is delivered as usual
}

QSignalSpyCallbackSet gCallbacks {&SignalEmitting, nullptr, &SignalEmitted, nullptr};

// Before main(), so that no thread is started and no signal emitted before.
struct Register
{
    Register()
    {
        qt_register_signal_spy_callbacks(&gCallbacks);
        QInternal::registerCallback(QInternal::EventNotifyCallback, &EventDelivered);
    }
} const gRegister;
} // namespace

// Called by the inline QMetaObject::invokeMethod templates, compiled into our
// code, across the library boundary: this definition comes first, and hands
// the call on to Qt Core's own.
bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret)
{
    using Invoke = bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*);
    static Invoke const next = reinterpret_cast<Invoke>(
        dlsym(RTLD_NEXT, "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv"));
    __tsan_release(&gQueuedCalls);
    return next(object, slot, type, ret);
}
