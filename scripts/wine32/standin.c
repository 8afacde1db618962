/* One 32-bit stand-in for every program a kit needs, copied under the
 * names the launcher looks for.
 *
 *   standin.exe
 *       as the editor: appends "run", its folder and command line, then
 *       "end", to its own path followed by ".log", and exits, once no file
 *       named by its own path followed by ".hold" is there (ten minutes at
 *       most), so that a scenario can do things while the editor runs
 *   standin.exe sleep READY MILLISECONDS
 *       as php.exe, ConEmu.exe or an editor already running: creates the
 *       file READY once it runs, then sleeps
 *   standin.exe watch LOG STOP PROGRAM...
 *       starts each PROGRAM as a sleeper (READY is PROGRAM followed by
 *       ".ready") and appends "ended INDEX EXITCODE" to LOG as each one
 *       ends; once the file STOP appears it terminates the rest and exits
 *
 * The watcher is there because the exit status of a Wine process seen from
 * the host does not carry the Windows exit code of a terminated process;
 * only another Windows process can read it. A process under qemu takes
 * seconds to start, so the caller waits for the READY files rather than
 * guessing when a sleeper has become visible to the launcher.
 * Plain Win32 and no C++ runtime: one thread, a small image, a quick start. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { MOST_WATCHED = 8, SLEEP_MS = 600000, HOLD_POLL_MS = 100, HOLD_MOST_MS = 600000 };

static int run_as_editor(void) {
    char self[MAX_PATH + 8], log[MAX_PATH + 8], folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    snprintf(log, sizeof log, "%s.log", self);
    if (!GetCurrentDirectoryA(sizeof folder, folder)) folder[0] = 0;
    FILE* out = fopen(log, "ab");
    if (!out) return 2;
    fprintf(out, "run\ncwd=%s\ncmdline=%s\nend\n", folder, GetCommandLineA());
    if (fclose(out) != 0) return 2;
    char hold[MAX_PATH + 8];
    snprintf(hold, sizeof hold, "%s.hold", self);
    for (int waited = 0; waited < HOLD_MOST_MS && GetFileAttributesA(hold) != INVALID_FILE_ATTRIBUTES;
         waited += HOLD_POLL_MS)
        Sleep(HOLD_POLL_MS);
    return 0;
}

static int run_as_sleeper(const char* ready, const char* milliseconds) {
    HANDLE file = CreateFileA(ready, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 2;
    CloseHandle(file);
    Sleep((DWORD)strtoul(milliseconds, NULL, 10));
    return 0;
}

static int append(const char* log, const char* line) {
    FILE* out = fopen(log, "ab");
    if (!out) return 0;
    fputs(line, out);
    return fclose(out) == 0;
}

static int run_as_watcher(const char* log, const char* stop, int count, char** programs) {
    if (count < 1 || count > MOST_WATCHED) return 2;
    HANDLE processes[MOST_WATCHED];
    int index[MOST_WATCHED];
    for (int i = 0; i < count; ++i) {
        char command[3 * MAX_PATH + 32];
        snprintf(command, sizeof command, "\"%s\" sleep \"%s.ready\" %d", programs[i], programs[i], SLEEP_MS);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessA(programs[i], command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
            char line[64];
            snprintf(line, sizeof line, "failed %d %lu\n", i, (unsigned long)GetLastError());
            append(log, line);
            while (i-- > 0) TerminateProcess(processes[i], 1);
            return 2;
        }
        CloseHandle(process.hThread);
        processes[i] = process.hProcess;
        index[i] = i;
    }
    int left = count;
    while (left > 0) {
        DWORD which = WaitForMultipleObjects((DWORD)left, processes, FALSE, 100);
        if (which < WAIT_OBJECT_0 + (DWORD)left) {
            DWORD code = 0;
            GetExitCodeProcess(processes[which], &code);
            char line[64];
            snprintf(line, sizeof line, "ended %d %lu\n", index[which], (unsigned long)code);
            if (!append(log, line)) return 2;
            CloseHandle(processes[which]);
            --left;
            processes[which] = processes[left];
            index[which] = index[left];
        } else if (which == WAIT_TIMEOUT) {
            if (GetFileAttributesA(stop) != INVALID_FILE_ATTRIBUTES) break;
        } else {
            return 2;
        }
    }
    for (int i = 0; i < left; ++i) TerminateProcess(processes[i], 1);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 1) return run_as_editor();
    if (argc == 4 && strcmp(argv[1], "sleep") == 0) return run_as_sleeper(argv[2], argv[3]);
    if (argc >= 5 && strcmp(argv[1], "watch") == 0) return run_as_watcher(argv[2], argv[3], argc - 4, argv + 4);
    return 2;
}
