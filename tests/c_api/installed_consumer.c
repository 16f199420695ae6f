/*
 * A device program built against the installed settings client, once with
 * the flags pkg-config gives and once as a CMake project. It is only built,
 * never run: the build shows that header, library and package files fit.
 */
#include <settings_client/settings_client.h>
#include <stdio.h>

int main(int argc, char** argv) {
    char name[256];
    (void)argv;
    /* Never true when run; the calls make the linker pull in the library. */
    if (argc > 1000) {
        if (SettingsClientInit(7) != 0) return 1;
        if (SettingsControl(2, name, (int32_t)sizeof name) < 0) return 1;
        SettingsClientExit();
    }
    printf("key 0x%x\n", SETTINGS_KEY);
    return 0;
}
