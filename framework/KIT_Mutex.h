#pragma once
// The program's only mutex: recursive, so a thread that holds it may lock it
// again (it must unlock it as many times). Used for the plug-in mutex, which
// the host adapter holds around every render block and most host calls.
#include <pthread.h>

class KIT_Mutex {
public:
    KIT_Mutex();
    ~KIT_Mutex();
    KIT_Mutex(const KIT_Mutex&) = delete;
    KIT_Mutex& operator=(const KIT_Mutex&) = delete;

    // [any thread] blocks until the mutex is free or already held by this thread.
    void Lock();
    // [the holding thread] once per Lock; asserted in debug builds.
    void Unlock();

    // Locks the given mutex for its scope; a null mutex is not locked.
    class ScopedLock {
    public:
        explicit ScopedLock(KIT_Mutex* mutex) : mMutex(mutex) {
            if (mMutex) mMutex->Lock();
        }
        ~ScopedLock() {
            if (mMutex) mMutex->Unlock();
        }
        ScopedLock(const ScopedLock&) = delete;
        ScopedLock& operator=(const ScopedLock&) = delete;

    private:
        KIT_Mutex* mMutex;
    };

private:
    pthread_mutex_t mMutex;
};
