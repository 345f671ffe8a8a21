// Installs a package as an installer's own interface would, through MsiSetExternalUI,
// and plays its user: prints what the installer hands the interface and answers
// Cancel when asked to. Wine's msiexec never answers Cancel itself.
//   msi-host PACKAGE [CANCEL_AFTER]
// prints the performance counter's frequency ("frequency F"), then, each with the
// time of its coming in milliseconds of that counter (the test child's stamps count
// in it too):
//   info TICK TEXT          a line for the log
//   progress TICK F1 F2     a progress message's first two fields (0: reset, 2: ticks)
//   actiondata TICK TEXT    the action's line in the progress dialog
//   cancelled TICK          Cancel answered, at the first progress message with field 1
//                           of 2 (a look or a move of the bar) after a line for the log
//                           that holds CANCEL_AFTER
//   result TICK CODE        what MsiInstallProduct returned; also the exit code
#include <windows.h>
#include <msi.h>

#include <stdio.h>
#include <wchar.h>

namespace {

const wchar_t* g_cancelAfter = nullptr;  // null: never
bool g_cancelling = false;

unsigned long long Now()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<unsigned long long>(now.QuadPart) * 1000 / static_cast<unsigned long long>(frequency.QuadPart);
}

void Print(const char* kind, const wchar_t* text)
{
    char utf8[8192];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    utf8[sizeof utf8 - 1] = '\0';
    printf("%s %llu %s\n", kind, Now(), utf8);
    fflush(stdout);
}

int WINAPI OnMessage(void*, UINT type, LPCWSTR message)
{
    if (!message)
        return 0;
    switch (type & 0xFF000000) {
    case INSTALLMESSAGE_INFO:
        Print("info", message);
        g_cancelling = g_cancelling || (g_cancelAfter && wcsstr(message, g_cancelAfter));
        return 0;
    case INSTALLMESSAGE_ACTIONDATA:
        Print("actiondata", message);
        return 0;
    case INSTALLMESSAGE_PROGRESS: {
        // "1: 2 2: 1024 3: 0 ..."
        int first = -1, second = 0;
        if (swscanf(message, L"1: %d 2: %d", &first, &second) < 1)
            return 0;
        printf("progress %llu %d %d\n", Now(), first, second);
        fflush(stdout);
        if (first == 2 && g_cancelling) {
            g_cancelling = false;
            g_cancelAfter = nullptr;
            printf("cancelled %llu\n", Now());
            fflush(stdout);
            return IDCANCEL;
        }
        return 0;
    }
    default:
        return 0;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || argc > 3) {
        fputs("usage: msi-host PACKAGE [CANCEL_AFTER]\n", stderr);
        return 2;
    }
    g_cancelAfter = argc == 3 ? argv[2] : nullptr;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    printf("frequency %lld\n", frequency.QuadPart);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIW(OnMessage, INSTALLLOGMODE_INFO | INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_ACTIONDATA, nullptr);
    const UINT result = MsiInstallProductW(argv[1], L"");
    printf("result %llu %u\n", Now(), result);
    return static_cast<int>(result);
}
