// The application's main executable. Starting the Java runtime is not built yet; until then
// the program says so and fails, so that nothing mistakes it for a working launcher.
#include <cstdio>

int main() {
    std::fputs("launcher: starting a Java application is not available in this build yet\n", stderr);
    return 1;
}
