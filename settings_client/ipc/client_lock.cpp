// The client lock: a process-private mutex with default attributes,
// allocated with malloc (the library does not use the C++ runtime). The
// operations and their messages call it a semaphore.
#include <pthread.h>

#include <cstdlib>

#include "ipc/diagnostics.h"
#include "settings_client/settings_client.h"

extern "C" {

pthread_mutex_t* CreateSem(void) {
    auto* lock = static_cast<pthread_mutex_t*>(std::malloc(sizeof(pthread_mutex_t)));
    if (lock == nullptr) {
        settings_client::WriteLine("Error: Not enough memory!!\n");
        return nullptr;
    }
    if (pthread_mutex_init(lock, nullptr) != 0) {
        settings_client::WriteLine("Error: Sem_Creat init faill!!\n");
        std::free(lock);
        return nullptr;
    }
    return lock;
}

int32_t SemWait(pthread_mutex_t* lock) {
    if (lock == nullptr) {
        settings_client::WriteLine("Error: SemWait: Invalid Semaphore handler\n");
        return -1;
    }
    return pthread_mutex_lock(lock);
}

int32_t SemRelease(pthread_mutex_t* lock) {
    if (lock == nullptr) {
        settings_client::WriteLine("Error: SemRelease: Invalid Semaphore handler\n");
        return -1;
    }
    return pthread_mutex_unlock(lock);
}

int32_t DestroySem(pthread_mutex_t* lock) {
    if (lock == nullptr) {
        settings_client::WriteLine("Error: DestroySem: Invalid Semaphore handler\n");
        return -1;
    }
    // Taking the lock first lets an exchange that holds it finish.
    pthread_mutex_lock(lock);
    pthread_mutex_unlock(lock);
    if (pthread_mutex_destroy(lock) != 0) settings_client::WriteLine("Error: Sem_kill faill!!\n");
    std::free(lock);
    return 0;
}

}  // extern "C"
