#include "framework/KIT_Mutex.h"

#include "framework/Trace.h"

#include <cassert>

KIT_Mutex::KIT_Mutex() {
    FW_TRACE();
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(&mMutex, &attr);
    assert(rc == 0);
    (void)rc;
    pthread_mutexattr_destroy(&attr);
}

KIT_Mutex::~KIT_Mutex() {
    FW_TRACE();
    pthread_mutex_destroy(&mMutex);
}

void KIT_Mutex::Lock() {
    FW_TRACE();
    const int rc = pthread_mutex_lock(&mMutex);
    assert(rc == 0); // EAGAIN: the recursion count overflowed
    (void)rc;
}

void KIT_Mutex::Unlock() {
    FW_TRACE();
    // A recursive mutex refuses an unlock by a thread that does not hold it.
    const int rc = pthread_mutex_unlock(&mMutex);
    assert(rc == 0);
    (void)rc;
}
