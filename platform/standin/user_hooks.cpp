// Thread-local CBT hooks, kept per thread in installation order.
#include "platform/standin/window_model.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

struct StandinHook {
    HOOKPROC proc;
    DWORD thread;
};

namespace {

std::mutex hooks_lock;
std::map<DWORD, std::vector<StandinHook*>>& Hooks() {
    static auto* hooks = new std::map<DWORD, std::vector<StandinHook*>>;
    return *hooks;
}

// The hooks of `thread` installed before `hook` (all of them for null),
// newest first.
std::vector<StandinHook*> HooksBelow(DWORD thread, HHOOK hook) {
    std::lock_guard<std::mutex> hold(hooks_lock);
    std::vector<StandinHook*> chain = Hooks()[thread];
    std::reverse(chain.begin(), chain.end());
    if (hook) {
        auto at = std::find(chain.begin(), chain.end(), hook);
        chain.erase(chain.begin(), at == chain.end() ? chain.end() : at + 1);
    }
    return chain;
}

} // namespace

HHOOK SetWindowsHookExA(int kind, HOOKPROC proc, HINSTANCE module, DWORD thread) {
    if (kind != WH_CBT || !proc || module || thread == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* hook = new StandinHook{proc, thread};
    std::lock_guard<std::mutex> hold(hooks_lock);
    Hooks()[thread].push_back(hook);
    return hook;
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
    std::lock_guard<std::mutex> hold(hooks_lock);
    for (auto& [thread, chain] : Hooks()) {
        auto found = std::find(chain.begin(), chain.end(), hook);
        if (found != chain.end()) {
            chain.erase(found);
            delete hook;
            return TRUE;
        }
    }
    SetLastError(ERROR_HOOK_NOT_INSTALLED);
    return FALSE;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM first, LPARAM second) {
    std::vector<StandinHook*> below = HooksBelow(GetCurrentThreadId(), hook);
    return below.empty() ? 0 : below.front()->proc(code, first, second);
}

int GetClassNameA(HWND window, LPSTR name, int size) {
    StandinWindow* target = standin::LookUpWindow(window);
    if (!target || size <= 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    lstrcpynA(name, target->class_name.c_str(), size);
    return lstrlenA(name);
}

namespace standin {

LRESULT CallCbtHooks(int code, WPARAM first, LPARAM second) {
    // Each hook passes the call on with CallNextHookEx, as on Windows.
    std::vector<StandinHook*> chain = HooksBelow(GetCurrentThreadId(), nullptr);
    return chain.empty() ? 0 : chain.front()->proc(code, first, second);
}

} // namespace standin
