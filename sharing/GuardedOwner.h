#ifndef TAVLO_GUARDEDOWNER_H
#define TAVLO_GUARDEDOWNER_H

// What a GLib signal handler, a probe or a deferred call holds instead of a
// bare pointer to the object that installed it. The RTSP server library calls
// back from its own threads (client threads, media threads, streaming
// threads), and may still do so while, or after, the owner is destroyed:
// every callback does its work under the guard's lock and finds no owner once
// the owner has let go. forget() waits for a callback that is running.
//
//   m_guard = GuardedOwner<Foo>::create(this);
//   GuardedOwner<Foo>::connect(instance, "signal", G_CALLBACK(onSignal), m_guard);
//   void onSignal(Instance*, gpointer data)
//   {
//       GuardedOwner<Foo>::from(data).run([&](Foo& foo) { ... });
//   }
//   Foo::~Foo() { m_guard->forget(); }
//
// The lock is recursive: work done under it may make the library call
// another guarded callback of the same owner in the same thread (unpreparing
// a media signals "unprepared" at once).
#include <glib-object.h>

#include <memory>
#include <mutex>

template <class Owner>
class GuardedOwner {
public:
    using Ref = std::shared_ptr<GuardedOwner>;

    static Ref create(Owner* owner) { return Ref(new GuardedOwner(owner)); }

    // Any thread: runs work(owner) under the lock while the owner is there.
    // False (and nothing run) once it has let go.
    template <class Work>
    bool run(Work&& work)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (!m_owner)
            return false;
        work(*m_owner);
        return true;
    }

    // The owner, before it goes: waits for a callback that is running, then
    // turns every later one into a no-op.
    void forget()
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_owner = nullptr;
    }

    // Connects handler to instance's signal with a reference to the guard as
    // its user data (see from()); the reference goes with the handler.
    static gulong connect(gpointer instance, const char* signal, GCallback handler, const Ref& guard)
    {
        return g_signal_connect_data(
            instance, signal, handler, newRef(guard), [](gpointer data, GClosure*) { deleteRef(data); },
            GConnectFlags(0));
    }

    // A reference to the guard as user data of a callback other than a
    // signal's (a GSource, a pad probe), released by deleteRef.
    static gpointer newRef(const Ref& guard) { return new Ref(guard); }
    static void deleteRef(gpointer data) { delete static_cast<Ref*>(data); }

    // The guard behind a callback's user data.
    static GuardedOwner& from(gpointer data) { return **static_cast<Ref*>(data); }

private:
    explicit GuardedOwner(Owner* owner) : m_owner(owner) {}

    std::recursive_mutex m_mutex;
    Owner* m_owner;  // under m_mutex; null once the owner let go
};

#endif
