#include "framework/KIT_Mutex.h"

#include "framework/Trace.h"

KIT_Mutex::KIT_Mutex() {
    FW_TRACE();
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mMutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

KIT_Mutex::~KIT_Mutex() {
    FW_TRACE();
    pthread_mutex_destroy(&mMutex);
}

void KIT_Mutex::Lock() {
    FW_TRACE();
    pthread_mutex_lock(&mMutex);
}

void KIT_Mutex::Unlock() {
    FW_TRACE();
    pthread_mutex_unlock(&mMutex);
}
