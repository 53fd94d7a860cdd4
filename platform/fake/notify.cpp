#include <cstring>
#include <set>
#include <utility>

#include "platform/fake/fake_notify.h"
#include "platform/notify.h"

namespace {

typedef std::pair<platform::WindowHandle, uint32_t> IconKey;

struct NotifyArea {
    std::vector<fake::NotifyCall> calls;
    std::set<IconKey> icons;
    std::set<int> failing;  // call numbers, counted from 1 since the last reset, that fail
};

NotifyArea& Area() {
    static NotifyArea area;
    return area;
}

int Apply(uint32_t action, const IconKey& key) {
    NotifyArea& area = Area();
    bool present = area.icons.count(key) != 0;
    switch (action) {
        case NIM_ADD:
            if (present)
                return 0;
            area.icons.insert(key);
            return 1;
        case NIM_MODIFY:
            return present ? 1 : 0;
        case NIM_DELETE:
            if (!present)
                return 0;
            area.icons.erase(key);
            return 1;
        default:
            return 0;
    }
}

}  // namespace

namespace platform {

int NotifyIcon(uint32_t action, const NotifyIconRecord& record) {
    NotifyArea& area = Area();
    int number = static_cast<int>(area.calls.size()) + 1;
    int result = 0;
    if (area.failing.erase(number) == 0)
        result = Apply(action, IconKey(record.window, record.id));

    fake::NotifyCall call;
    call.action = action;
    call.result = result;
    call.window = record.window;
    call.id = record.id;
    call.flags = record.flags;
    call.callbackMessage = record.callbackMessage;
    call.icon = record.icon;
    // Bounded reads: a record whose texts lost their terminator must not take the fake past it.
    call.tip.assign(record.tip, strnlen(record.tip, sizeof(record.tip)));
    call.info.assign(record.info, strnlen(record.info, sizeof(record.info)));
    call.infoTitle.assign(record.infoTitle, strnlen(record.infoTitle, sizeof(record.infoTitle)));
    call.timeout = record.timeout;
    call.infoFlags = record.infoFlags;
    area.calls.push_back(call);
    return result;
}

uint32_t ShellRestartMessage() {
    return fake::kShellRestartMessage;
}

}  // namespace platform

namespace fake {

void ResetNotify() {
    Area() = NotifyArea();
}

const std::vector<NotifyCall>& NotifyCalls() {
    return Area().calls;
}

void FailNotifyCall(int nth) {
    Area().failing.insert(static_cast<int>(Area().calls.size()) + nth);
}

int NotifyIconsShown() {
    return static_cast<int>(Area().icons.size());
}

void ForgetNotifyIcons() {
    Area().icons.clear();
}

}  // namespace fake
