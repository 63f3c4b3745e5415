// Windows and message queues. Each window belongs to the thread that made
// it; posted messages wait in that thread's queue until it fetches them.
#include "platform/standin/window_model.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// Room for this many waiting messages before the queue has to grow: posting,
// like the system's, costs no heap in the ordinary run of things.
constexpr std::size_t kQueueRoom = 1024;

// A message sent from another thread, on its sender's stack until answered.
struct SentMessage {
    MSG message;
    LRESULT result = 0;
    bool answered = false;
};

struct ThreadQueue {
    ThreadQueue() { messages.reserve(kQueueRoom); }
    std::vector<MSG> messages;
    std::deque<SentMessage*> sent;
    bool quit = false;
    int quit_code = 0;
};

// One lock for the queues, the window-to-thread map and the classes: posting
// comes from any thread, so it must not touch a window that may be going.
std::mutex queues_lock;
std::condition_variable queues_changed;

std::unordered_map<DWORD, ThreadQueue>& Queues() {
    static auto* queues = new std::unordered_map<DWORD, ThreadQueue>;
    return *queues;
}
std::unordered_map<HWND, DWORD>& WindowThreads() {
    static auto* owners = new std::unordered_map<HWND, DWORD>;
    return *owners;
}
std::map<std::string, WNDPROC>& Classes() {
    static auto* classes = new std::map<std::string, WNDPROC>;
    return *classes;
}

bool Matches(const MSG& message, HWND window, UINT first, UINT last) {
    if (window && message.hwnd != window)
        return false;
    if (first == 0 && last == 0)
        return true;
    return message.message >= first && message.message <= last;
}

// Takes the first matching message of the calling thread's queue, if any.
// Caller holds queues_lock.
bool TakeMessage(ThreadQueue& queue, LPMSG out, HWND window, UINT first, UINT last, bool remove) {
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (!Matches(*it, window, first, last))
            continue;
        *out = *it;
        if (remove)
            queue.messages.erase(it);
        return true;
    }
    if (queue.quit && !window) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quit_code), 0, GetTickCount(), {}};
        if (remove)
            queue.quit = false;
        return true;
    }
    return false;
}

// Answers the messages other threads have sent to the calling thread's
// windows, in the order they came. Caller holds `hold` on queues_lock; it is
// let go while a window procedure runs.
void AnswerSentMessages(std::unique_lock<std::mutex>& hold, ThreadQueue& queue) {
    while (!queue.sent.empty()) {
        SentMessage* sent = queue.sent.front();
        queue.sent.pop_front();
        hold.unlock();
        LRESULT result = standin::CallWindow(sent->message.hwnd, sent->message.message,
                                             sent->message.wParam, sent->message.lParam);
        hold.lock();
        sent->result = result;
        sent->answered = true;
        queues_changed.notify_all();
    }
}

bool HasInput(const ThreadQueue& queue, DWORD wake_mask) {
    if ((wake_mask & QS_SENDMESSAGE) && !queue.sent.empty())
        return true;
    return (wake_mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) &&
           (!queue.messages.empty() || queue.quit);
}

} // namespace

namespace standin {

StandinWindow* LookUpWindow(HWND window) {
    return HandleAs<StandinWindow>(window);
}

HWND MakeWindow(const std::string& class_name, const std::string& text, DWORD style, HWND parent,
                int id) {
    auto* window = new StandinWindow;
    window->class_name = class_name;
    window->text = text;
    window->style = style;
    window->parent = parent == HWND_MESSAGE ? nullptr : parent;
    window->id = id;
    window->thread = GetCurrentThreadId();
    RegisterHandle(window);
    if (StandinWindow* owner = LookUpWindow(window->parent))
        owner->children.push_back(window);
    std::lock_guard<std::mutex> hold(queues_lock);
    WindowThreads()[window] = window->thread;
    return window;
}

LRESULT CallWindow(HWND window, UINT message, WPARAM first, LPARAM second) {
    StandinWindow* target = LookUpWindow(window);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LRESULT result = 0;
    if (target->control && target->control->Handle(window, message, first, second, &result))
        return result;
    if (target->dialog_proc)
        return target->dialog_proc(window, message, first, second);
    if (target->proc)
        return target->proc(window, message, first, second);
    return DefWindowProcA(window, message, first, second);
}

} // namespace standin

ATOM RegisterClassA(const WNDCLASSA* window_class) {
    if (!window_class || !window_class->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> hold(queues_lock);
    auto& classes = Classes();
    if (classes.count(window_class->lpszClassName))
        return 0;
    classes[window_class->lpszClassName] = window_class->lpfnWndProc;
    return static_cast<ATOM>(0xC000 + classes.size());
}

BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE) {
    std::lock_guard<std::mutex> hold(queues_lock);
    return Classes().erase(class_name ? class_name : "") ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR text, DWORD style, int, int, int,
                     int, HWND parent, HMENU menu, HINSTANCE instance, LPVOID) {
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> hold(queues_lock);
        auto found = Classes().find(class_name ? class_name : "");
        if (found == Classes().end()) {
            SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
            return nullptr;
        }
        proc = found->second;
    }
    HWND window = standin::MakeWindow(class_name, text ? text : "", style, parent,
                                      static_cast<int>(reinterpret_cast<std::intptr_t>(menu)));
    StandinWindow* made = standin::LookUpWindow(window);
    made->proc = proc;
    made->ex_style = ex_style;
    made->instance = instance;
    return window;
}

BOOL DestroyWindow(HWND window) {
    StandinWindow* target = standin::LookUpWindow(window);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    for (HWND child : std::vector<HWND>(target->children))
        DestroyWindow(child);
    if (StandinWindow* owner = standin::LookUpWindow(target->parent))
        std::erase(owner->children, window);
    {
        std::lock_guard<std::mutex> hold(queues_lock);
        WindowThreads().erase(window);
        for (auto& [thread, queue] : Queues())
            std::erase_if(queue.messages, [&](const MSG& m) { return m.hwnd == window; });
    }
    return CloseHandle(window);
}

BOOL IsWindow(HWND window) {
    return standin::LookUpWindow(window) ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE)
        DestroyWindow(window);
    return 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM first, LPARAM second) {
    std::lock_guard<std::mutex> hold(queues_lock);
    DWORD thread = GetCurrentThreadId();
    if (window) {
        auto owner = WindowThreads().find(window);
        if (owner == WindowThreads().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        thread = owner->second;
    }
    Queues()[thread].messages.push_back(MSG{window, message, first, second, GetTickCount(), {}});
    queues_changed.notify_all();
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM first, LPARAM second) {
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> hold(queues_lock);
    auto owner = WindowThreads().find(window);
    if (owner == WindowThreads().end() || owner->second == self) {
        hold.unlock();
        return standin::CallWindow(window, message, first, second);
    }
    SentMessage sent{MSG{window, message, first, second, GetTickCount(), {}}};
    Queues()[owner->second].sent.push_back(&sent);
    queues_changed.notify_all();
    // While it waits, the sender answers what is sent to its own windows.
    ThreadQueue& mine = Queues()[self];
    while (!sent.answered) {
        AnswerSentMessages(hold, mine);
        if (!sent.answered)
            queues_changed.wait(hold, [&] { return sent.answered || !mine.sent.empty(); });
    }
    return sent.result;
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove) {
    std::unique_lock<std::mutex> hold(queues_lock);
    ThreadQueue& queue = Queues()[GetCurrentThreadId()];
    // Sent messages are answered unless the call asks for other kinds only.
    const UINT kinds = remove >> 16;
    if (kinds == 0 || (kinds & QS_SENDMESSAGE))
        AnswerSentMessages(hold, queue);
    // Asked for sent messages only: they are answered, nothing posted is taken.
    if (kinds == QS_SENDMESSAGE)
        return FALSE;
    return TakeMessage(queue, message, window, first, last, remove & PM_REMOVE) ? TRUE : FALSE;
}

BOOL GetMessageA(LPMSG message, HWND window, UINT first, UINT last) {
    std::unique_lock<std::mutex> hold(queues_lock);
    ThreadQueue& queue = Queues()[GetCurrentThreadId()];
    for (;;) {
        AnswerSentMessages(hold, queue);
        if (TakeMessage(queue, message, window, first, last, true))
            break;
        queues_changed.wait(
            hold, [&] { return !queue.sent.empty() || queue.quit || !queue.messages.empty(); });
    }
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
    if (!message->hwnd)
        return 0;
    return standin::CallWindow(message->hwnd, message->message, message->wParam, message->lParam);
}

void PostQuitMessage(int exit_code) {
    std::lock_guard<std::mutex> hold(queues_lock);
    ThreadQueue& queue = Queues()[GetCurrentThreadId()];
    queue.quit = true;
    queue.quit_code = exit_code;
    queues_changed.notify_all();
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                                DWORD milliseconds, DWORD wake_mask) {
    if (wait_all || (count > 0 && !handles)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
    // The objects have no common signal with the queues: with objects to
    // watch, they are looked at again every millisecond.
    const auto step = std::chrono::milliseconds(1);
    std::unique_lock<std::mutex> hold(queues_lock);
    ThreadQueue& queue = Queues()[GetCurrentThreadId()];
    for (;;) {
        if (count > 0) {
            hold.unlock();
            for (DWORD i = 0; i < count; ++i) {
                standin::KernelObject* object = standin::LookUpHandle(handles[i]);
                if (!object) {
                    SetLastError(ERROR_INVALID_HANDLE);
                    return WAIT_FAILED;
                }
                if (object->Wait(0) == WAIT_OBJECT_0)
                    return WAIT_OBJECT_0 + i;
            }
            hold.lock();
        }
        if (HasInput(queue, wake_mask))
            return WAIT_OBJECT_0 + count;
        auto ready = [&] { return HasInput(queue, wake_mask); };
        if (milliseconds != INFINITE && Clock::now() >= until)
            return WAIT_TIMEOUT;
        if (count > 0) {
            auto next = Clock::now() + step;
            queues_changed.wait_until(hold, milliseconds == INFINITE ? next : std::min(next, until),
                                      ready);
        } else if (milliseconds == INFINITE) {
            queues_changed.wait(hold, ready);
        } else {
            queues_changed.wait_until(hold, until, ready);
        }
    }
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    StandinWindow* target = standin::LookUpWindow(window);
    if (!target)
        return FALSE;
    target->text = text ? text : "";
    return TRUE;
}

int GetWindowTextA(HWND window, LPSTR text, int size) {
    StandinWindow* target = standin::LookUpWindow(window);
    if (!target || size <= 0)
        return 0;
    lstrcpynA(text, target->text.c_str(), size);
    return lstrlenA(text);
}

BOOL ShowWindow(HWND window, int command) {
    StandinWindow* target = standin::LookUpWindow(window);
    if (!target)
        return FALSE;
    BOOL was_visible = target->visible;
    target->visible = command != SW_HIDE;
    return was_visible;
}

BOOL IsWindowVisible(HWND window) {
    StandinWindow* target = standin::LookUpWindow(window);
    return target && target->visible;
}

HWND GetDlgItem(HWND dialog, int id) {
    StandinWindow* target = standin::LookUpWindow(dialog);
    if (target)
        for (HWND child : target->children)
            if (standin::LookUpWindow(child)->id == id)
                return child;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

int GetDlgCtrlID(HWND window) {
    StandinWindow* target = standin::LookUpWindow(window);
    return target ? target->id : 0;
}

HWND GetParent(HWND window) {
    StandinWindow* target = standin::LookUpWindow(window);
    return target ? target->parent : nullptr;
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD process_id) {
    if (process_id)
        *process_id = 1;
    StandinWindow* target = standin::LookUpWindow(window);
    return target ? target->thread : 0;
}

DWORD GetTickCount() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
