#include "catalog_strings.h"

jstring createJavaStringFromNSString(JNIEnv* env, PlatformStringView string) {
    return CreateJavaStringFromNSString(env, string);
}
