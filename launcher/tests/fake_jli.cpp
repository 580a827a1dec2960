// A stand-in for a runtime's libjli.so: JLI_Launch writes everything it receives to the file
// named by KESTRANE_JLI_RECORD (appending, one "key=value" per line, "call=N" first), returns
// KESTRANE_JLI_RESULT, and with KESTRANE_JLI_REENTER set enters the executable's main again
// on a thread of its own with the vector it was given, as a runtime may.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

int calls = 0;

void record(const char* path, int argc, char** argv, int jargc, const char** jargv, int appclassc,
            const char** appclassv, const char* fullversion, const char* dotversion, const char* pname,
            const char* lname, unsigned char javaargs, unsigned char cpwildcard, unsigned char javaw, int ergo) {
    FILE* f = std::fopen(path, "a");
    if (f == nullptr) return;
    auto str = [](const char* s) { return s != nullptr ? s : "(null)"; };
    std::fprintf(f, "call=%d\nargc=%d\n", calls, argc);
    for (int i = 0; i < argc; ++i) std::fprintf(f, "argv=%s\n", str(argv[i]));
    std::fprintf(f, "argvEnd=%s\n", argv[argc] == nullptr ? "null" : "not null");
    std::fprintf(f, "jargc=%d\njargv0=%s\nappclassc=%d\nappclassv0=%s\n", jargc, str(jargv[0]), appclassc, str(appclassv[0]));
    std::fprintf(f, "fullversion=%s\ndotversion=%s\npname=%s\nlname=%s\n", str(fullversion), str(dotversion), str(pname), str(lname));
    std::fprintf(f, "javaargs=%d\ncpwildcard=%d\njavaw=%d\nergo=%d\n", javaargs, cpwildcard, javaw, ergo);
    char cwd[4096];
    std::fprintf(f, "cwd=%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
    if (const char* name = std::getenv("KESTRANE_JLI_ENV")) std::fprintf(f, "env=%s\n", str(std::getenv(name)));
    std::fclose(f);
}

}  // namespace

extern "C" [[gnu::visibility("default")]] int JLI_Launch(int argc, char** argv, int jargc, const char** jargv,
                                                         int appclassc, const char** appclassv,
                                                         const char* fullversion, const char* dotversion,
                                                         const char* pname, const char* lname, unsigned char javaargs,
                                                         unsigned char cpwildcard, unsigned char javaw, int ergo) {
    ++calls;
    if (const char* path = std::getenv("KESTRANE_JLI_RECORD")) {
        record(path, argc, argv, jargc, jargv, appclassc, appclassv, fullversion, dotversion, pname, lname, javaargs,
               cpwildcard, javaw, ergo);
    }
    if (calls == 1 && std::getenv("KESTRANE_JLI_REENTER") != nullptr) {
        auto mainOfExecutable = reinterpret_cast<int (*)(int, char**)>(dlsym(RTLD_DEFAULT, "main"));
        if (mainOfExecutable != nullptr) {
            std::thread again([&] { mainOfExecutable(argc, argv); });
            again.join();
        }
    }
    const char* result = std::getenv("KESTRANE_JLI_RESULT");
    return result != nullptr ? std::atoi(result) : 0;
}
