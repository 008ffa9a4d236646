// Stops vellauncher where the virtual machine would start: this definition of
// JNI_CreateJavaVM, linked into the executable, is found before the one in libjvm.so.
// It prints the time spent since just before the launcher's main and the option count, then
// ends the process, so that the launcher's own work can be timed and counted alone.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <jni.h>
#include <unistd.h>

namespace
{

long long nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long long s_startNs = 0;
const char* const CLASS_PATH_OPTION = "-Djava.class.path=";

// Runs after the dynamic loader, with the static initialisers, before main.
__attribute__((constructor)) void markStart()
{
    s_startNs = nowNs();
}

} // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM**, void**, void* args)
{
    long long elapsed = nowNs() - s_startNs;
    const JavaVMInitArgs* vmArgs = static_cast<const JavaVMInitArgs*>(args);
    size_t classPathLength = 0;
    for (int i = 0; i < vmArgs->nOptions; ++i)
    {
        const char* option = vmArgs->options[i].optionString;
        if (std::strncmp(option, CLASS_PATH_OPTION, std::strlen(CLASS_PATH_OPTION)) == 0)
            classPathLength = std::strlen(option);
    }
    std::printf("prejvm_ns=%lld options=%d classpath_bytes=%zu\n", elapsed, vmArgs->nOptions, classPathLength);
    std::fflush(stdout);
    _exit(0);
}
