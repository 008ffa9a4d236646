// The floor of a JNI launcher: creates the virtual machine with the options given,
// calls the static main of a class and destroys the machine. Nothing else.
//
// usage: jni-floor [JVM-OPTION ...] -- CLASS [ARG ...]
// CLASS is written with slashes (com/example/Main). Arguments are passed as modified UTF-8.
#include <cstdio>
#include <cstring>
#include <jni.h>
#include <vector>

int main(int argc, char** argv)
{
    int split = 1;
    while (split < argc && strcmp(argv[split], "--") != 0)
        ++split;
    if (split + 1 >= argc) {
        fprintf(stderr, "usage: jni-floor [JVM-OPTION ...] -- CLASS [ARG ...]\n");
        return 2;
    }
    std::vector<JavaVMOption> options;
    for (int i = 1; i < split; ++i)
        options.push_back(JavaVMOption{argv[i], nullptr});

    JavaVMInitArgs vmArgs;
    vmArgs.version = JNI_VERSION_1_4;
    vmArgs.nOptions = jint(options.size());
    vmArgs.options = options.data();
    vmArgs.ignoreUnrecognized = JNI_TRUE;
    JavaVM* jvm = nullptr;
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&jvm, reinterpret_cast<void**>(&env), &vmArgs) < 0) {
        fprintf(stderr, "jni-floor: cannot create the virtual machine\n");
        return 1;
    }

    const char* className = argv[split + 1];
    jclass mainClass = env->FindClass(className);
    jmethodID mainMethod =
        mainClass ? env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V") : nullptr;
    if (mainMethod == nullptr) {
        env->ExceptionDescribe();
        fprintf(stderr, "jni-floor: no main in %s\n", className);
        return 1;
    }
    int first = split + 2;
    jobjectArray args = env->NewObjectArray(argc - first, env->FindClass("java/lang/String"), nullptr);
    for (int i = first; i < argc; ++i)
        env->SetObjectArrayElement(args, i - first, env->NewStringUTF(argv[i]));
    env->CallStaticVoidMethod(mainClass, mainMethod, args);
    int status = 0;
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        status = 1;
    }
    jvm->DestroyJavaVM();
    return status;
}
