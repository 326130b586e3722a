// zvdriver.exe: one command per run against the windows of other programs under Wine.
// Prints records (see DriverRecord.h); exit 0 done, 1 not found / failed, 2 usage error.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "common/WinHandles.h"
#include "tests/harness/DriverRecord.h"

namespace {

using namespace zvdriver;
using Args = std::map<std::string, std::string>;

struct Failure { int code; std::string why; };  // code 1: not found or failed, 2: usage error

std::wstring Wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    const int size = static_cast<int>(text.size());
    out.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), size)));
    return out;
}

// Decimal or 0x hex; handles are printed as unsigned hex, so the full 64-bit range is allowed.
long long Number(const Args& args, const std::string& name, std::optional<long long> fallback = std::nullopt) {
    auto it = args.find(name);
    if (it == args.end() && fallback) return *fallback;
    if (it == args.end()) throw Failure{2, "missing --" + name};
    char* end = nullptr;
    const char* text = it->second.c_str();
    long long value = *text == '-' ? strtoll(text, &end, 0) : static_cast<long long>(strtoull(text, &end, 0));
    if (end == text || *end) throw Failure{2, "--" + name + " is not a number"};
    return value;
}

HWND Window(const Args& args) {
    HWND hwnd = reinterpret_cast<HWND>(Number(args, "hwnd"));
    if (!IsWindow(hwnd)) throw Failure{1, "no window " + args.at("hwnd")};
    return hwnd;
}

int Print(const Record& record) {
    return printf("%s\n", record.line.c_str()) < 0 || fflush(stdout) != 0;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    return std::wstring(name, static_cast<size_t>(GetClassNameW(hwnd, name, 256)));
}

// The caption the system keeps: unlike WM_GETTEXT it never waits for a busy program.
std::wstring TitleOf(HWND hwnd) {
    wchar_t title[512] = {};
    return std::wstring(title, static_cast<size_t>(GetWindowTextW(hwnd, title, 512)));
}

// WM_GETTEXT through a bounded send, so a busy program cannot stall us.
std::wstring TextOf(HWND hwnd) {
    DWORD_PTR length = 0, copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    auto buffer = reinterpret_cast<LPARAM>(text.data());
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), buffer, SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(copied < text.size() ? copied : 0);
    return text;
}

std::string RectText(const RECT& r) {
    char text[64];
    const int length = snprintf(text, sizeof(text), "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    return std::string(text, static_cast<size_t>(length));
}

// A child's rect is in its parent's client area, a top-level window's on the screen; client is on the screen.
Record Describe(HWND hwnd, bool child) {
    RECT rect{}, client{};
    GetWindowRect(hwnd, &rect);
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    if (child) MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&rect), 2);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    Record record;
    record.hex("hwnd", reinterpret_cast<uintptr_t>(hwnd)).add("class", ClassOf(hwnd));
    if (child) record.add("text", TextOf(hwnd)).add("id", GetDlgCtrlID(hwnd));
    else record.add("title", TitleOf(hwnd));
    return record.add("rect", RectText(rect)).add("client", RectText(client))
        .hex("style", static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)))
        .hex("exstyle", static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE))).add("pid", pid)
        .add("visible", IsWindowVisible(hwnd) != FALSE).add("enabled", IsWindowEnabled(hwnd) != FALSE)
        .add("foreground", GetForegroundWindow() == hwnd);
}

// Top-level windows in Z order that match --title (exact), --class, --pid and --visible 1.
std::vector<HWND> Matching(const Args& args) {
    std::vector<HWND> found;
    auto collect = [](HWND hwnd, LPARAM list) { return reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd), TRUE; };
    EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
    std::erase_if(found, [&](HWND hwnd) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        return (args.count("title") && Wide(args.at("title")) != TitleOf(hwnd)) ||
               (args.count("class") && Wide(args.at("class")) != ClassOf(hwnd)) || Number(args, "pid", pid) != pid ||
               (Number(args, "visible", 0) && !IsWindowVisible(hwnd));
    });
    return found;
}

// Polls `done` every 50 ms for up to --timeout-ms (default 5000).
bool Poll(const Args& args, const std::function<bool()>& done) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(Number(args, "timeout-ms", 5000));
    while (!done() && GetTickCount64() < deadline) Sleep(50);
    return done();
}

// --until V / --until-not V: waits first (--timeout-ms) for the value to be, or to stop being, V.
std::string Awaited(const Args& args, const std::function<std::string()>& value) {
    const auto is = args.find("until"), isNot = args.find("until-not");
    if (is == args.end() && isNot == args.end()) return value();
    std::string now;
    if (!Poll(args, [&] {
            now = value();
            return is != args.end() ? now == is->second : now != isNot->second;
        }))
        throw Failure{1, "not in time: " + now};
    return now;
}

HWND WaitFor(const Args& args) {
    std::vector<HWND> found;
    if (!Poll(args, [&] { return !(found = Matching(args)).empty(); })) throw Failure{1, "no matching window in time"};
    return found.front();
}

std::optional<std::string> answer;  // what zvhook.dll last sent; one question at a time

LRESULT CALLBACK ReplyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    if (msg != WM_COPYDATA || data->dwData != kAnswer) return DefWindowProcW(hwnd, msg, wp, lp);
    answer.emplace(static_cast<const char*>(data->lpData), data->cbData);
    return TRUE;
}

// Asks zvhook.dll, hooked into the target's thread, about the target; nullopt if it has no such thing.
std::optional<std::string> AskOwner(HWND target, Query query) {
    wchar_t exe[MAX_PATH] = {};
    std::wstring dll(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    HMODULE module = LoadLibraryW((dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"zvhook.dll").c_str());
    auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, "ZvDriverCallWndProc")));
    WNDCLASSW replyClass{};
    replyClass.lpfnWndProc = ReplyProc;
    replyClass.lpszClassName = L"ZvDriverReply";
    RegisterClassW(&replyClass);
    UniqueWindow reply(CreateWindowW(L"ZvDriverReply", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    DWORD thread = GetWindowThreadProcessId(target, nullptr);
    HHOOK hook = proc && reply ? SetWindowsHookExW(WH_CALLWNDPROC, proc, module, thread) : nullptr;
    if (!hook) throw Failure{1, "cannot hook the window's thread with zvhook.dll"};
    answer.reset();
    DWORD_PTR ignored = 0;  // the hook's WM_COPYDATA is dispatched to us while we wait here
    SendMessageTimeoutW(target, RegisterWindowMessageW(kQueryMessage), reinterpret_cast<WPARAM>(reply.get()), query,
                        SMTO_ABORTIFHUNG, 5000, &ignored);
    UnhookWindowsHookEx(hook);
    return answer;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) children.push_back(child);
    return children;
}

// Posted, not sent: a message that opens a modal box would block a send.
int Post(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (!PostMessageW(hwnd, msg, wp, lp)) throw Failure{1, "PostMessage failed"};
    return Print(Record{}.hex("hwnd", reinterpret_cast<uintptr_t>(hwnd)).add("posted", msg));
}

// A visible message box (#32770) of --pid / --title: its text (static 0xFFFF), its buttons; --press one.
int Msgbox(Args args) {
    static const std::map<std::string, int> kButtons = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
    args.insert_or_assign("class", "#32770");
    args.insert_or_assign("visible", std::string(1, '1'));
    HWND box = WaitFor(args);
    Print(Describe(box, false).add("kind", "dialog").add("text", TextOf(GetDlgItem(box, 0xFFFF))));
    for (HWND button : ChildrenOf(box)) {
        if (ClassOf(button) != L"Button") continue;
        Print(Record{}.add("kind", "button").add("id", GetDlgCtrlID(button)).add("text", TextOf(button)));
    }
    if (!args.count("press")) return 0;
    if (!kButtons.count(args["press"])) throw Failure{2, "--press takes ok|cancel|yes|no"};
    return Post(box, WM_COMMAND, static_cast<WPARAM>(kButtons.at(args["press"])), 0);
}

// A screen rectangle as a 24-bit BMP file.
int Capture(const Args& args) {
    const auto x = static_cast<int>(Number(args, "x")), y = static_cast<int>(Number(args, "y"));
    const auto w = static_cast<LONG>(Number(args, "w")), h = static_cast<LONG>(Number(args, "h"));
    if (!args.count("out") || w <= 0 || h <= 0) throw Failure{2, "capture needs --out and a non-empty rectangle"};
    BITMAPINFOHEADER header{};  // positive height: rows bottom-up, as BMP files keep them
    header.biSize = sizeof(header), header.biWidth = w, header.biHeight = h, header.biPlanes = 1;
    header.biBitCount = 24, header.biSizeImage = static_cast<DWORD>((w * 3 + 3) / 4 * 4 * h);
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(file) + sizeof(header) + header.biSizeImage), 0, 0,
                          sizeof(file) + sizeof(header)};
    void* bits = nullptr;
    WindowDc screen(nullptr);
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    auto* info = reinterpret_cast<BITMAPINFO*>(&header);
    UniqueBitmap bitmap(CreateDIBSection(screen.get(), info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !bitmap) throw Failure{1, "cannot make a bitmap"};
    SelectedObject selected(memory.get(), bitmap.get());
    if (!BitBlt(memory.get(), 0, 0, w, h, screen.get(), x, y, SRCCOPY)) throw Failure{1, "BitBlt failed"};
    FILE* out = _wfopen(Wide(args.at("out")).c_str(), L"wb");
    bool written = out && fwrite(&file, sizeof(file), 1, out) && fwrite(&header, sizeof(header), 1, out) &&
                   fwrite(bits, header.biSizeImage, 1, out);
    if (!out || fclose(out) != 0 || !written) throw Failure{1, "cannot write " + args.at("out")};
    return Print(Record{}.add("out", args.at("out")).add("w", w).add("h", h));
}

int PrintAll(const std::vector<HWND>& windows, bool children) {
    for (HWND hwnd : windows) {
        Record record = Describe(hwnd, children);
        Print(children ? record.add("font", AskOwner(hwnd, kFont).value_or("")) : record);
    }
    return 0;
}

int Run(const std::string& verb, const Args& a) {
    const auto number = [&](const char* name) { return Number(a, name, 0); };
    const auto handle = reinterpret_cast<HWND>(verb == "state" || verb == "wait-gone" ? Number(a, "hwnd") : 0);
    DWORD_PTR result = 0;
    if (verb == "find") return Print(Describe(WaitFor(a), false));
    if (verb == "windows") return PrintAll(Matching(a), false);
    if (verb == "children") return PrintAll(ChildrenOf(Window(a)), true);
    if (verb == "text")
        return Print(Record{}.hex("hwnd", Number(a, "hwnd")).add("text", Awaited(a, [&] { return Utf8(TextOf(Window(a))); })));
    if (verb == "post") return Post(Window(a), static_cast<UINT>(Number(a, "msg")), number("wparam"), number("lparam"));
    if (verb == "command") return Post(Window(a), WM_COMMAND, static_cast<WPARAM>(Number(a, "id")), 0);
    if (verb == "close") return Post(Window(a), WM_CLOSE, 0, 0);
    if (verb == "click") return Post(Window(a), BM_CLICK, 0, 0);
    if (verb == "msgbox") return Msgbox(a);
    if (verb == "capture") return Capture(a);
    if (verb == "menu") {  // the menu bar of a window, or the items of a popup menu window
        auto items = AskOwner(Window(a), ClassOf(Window(a)) == L"#32768" ? kPopupMenu : kMenuBar);
        if (!items) throw Failure{1, "the window has no menu"};
        return fputs(items->c_str(), stdout) < 0;
    }
    if (verb == "send") {
        const std::string answer = Awaited(a, [&] {
            if (!SendMessageTimeoutW(Window(a), static_cast<UINT>(Number(a, "msg")), number("wparam"), number("lparam"),
                                     SMTO_ABORTIFHUNG, static_cast<UINT>(Number(a, "timeout-ms", 5000)), &result))
                throw Failure{1, "the window did not answer in time"};
            return std::to_string(static_cast<long long>(result));
        });
        return Print(Record{}.add("result", answer).hex("result_hex", result));
    }
    if (verb == "state" || verb == "wait-gone") {  // unlike the others, for a window that may be gone
        if (verb == "wait-gone" && !Poll(a, [&] { return !IsWindow(handle); })) throw Failure{1, "still there"};
        return Print(Record{}.hex("hwnd", Number(a, "hwnd")).add("exists", IsWindow(handle) != FALSE)
                         .add("visible", IsWindowVisible(handle) != FALSE).add("iconic", IsIconic(handle) != FALSE)
                         .add("foreground", GetForegroundWindow() == handle));
    }
    if (verb == "terminate") {
        UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(Number(a, "pid"))));
        if (!process || !TerminateProcess(process.get(), static_cast<UINT>(Number(a, "exit-code", 1)))) {
            throw Failure{1, "cannot terminate the process"};
        }
        return Print(Record{}.add("terminated", Number(a, "pid")));
    }
    throw Failure{2, "unknown command (tests/harness/README.md lists them)"};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // raw UTF-8 and "\n", whatever the console code page
    Args args;
    for (int i = 2; i + 1 < argc; i += 2) args[Utf8(argv[i]).substr(2)] = Utf8(argv[i + 1]);
    try {
        return Run(argc > 1 && argc % 2 == 0 ? Utf8(argv[1]) : "", args);
    } catch (const Failure& failure) {
        fprintf(stderr, "zvdriver: %s\n", failure.why.c_str());
        return failure.code;
    }
}
