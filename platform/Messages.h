// The platform's message records. A windowed control's "window procedure" is the
// event-filter chain of its widget: a message is a TMessageEvent sent through that
// chain, and the control's own filter (installed first, so it runs last) is the
// default procedure.
#pragma once

#include <QEvent>
#include <QPoint>

#include <cstdint>
#include <functional>
#include <vector>

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct TMessage {
    unsigned Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

inline constexpr unsigned WM_NULL = 0x0000;
inline constexpr unsigned WM_DESTROY = 0x0002;
inline constexpr unsigned WM_QUIT = 0x0012;
inline constexpr unsigned WM_GETMINMAXINFO = 0x0024;
inline constexpr unsigned WM_NCHITTEST = 0x0084;
inline constexpr unsigned WM_SYSCOMMAND = 0x0112;
inline constexpr unsigned WM_INITMENUPOPUP = 0x0117;
inline constexpr unsigned WM_USER = 0x0400;

inline constexpr int HTNOWHERE = 0;
inline constexpr int HTLEFT = 10;
inline constexpr int HTBOTTOMRIGHT = 17;

inline constexpr unsigned SC_SIZE = 0xF000;
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_MAXIMIZE = 0xF030;

// The size-limit query's record (WM_GETMINMAXINFO; LParam points at it).
struct TMinMaxInfo {
    QPoint ptReserved;
    QPoint ptMaxSize;
    QPoint ptMaxPosition;
    QPoint ptMinTrackSize;
    QPoint ptMaxTrackSize;
};

// A message travelling through a widget's event-filter chain.
class TMessageEvent : public QEvent {
public:
    explicit TMessageEvent(const TMessage& msg) : QEvent(EventType()), Msg(msg) {}
    static QEvent::Type EventType() {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    ~TMessageEvent() override { RunAfter(); }
    TMessage Msg;
    // What filters want done once the rest of the chain has had the message
    // (hooks' after-notifications); run innermost first, exactly once.
    std::vector<std::function<void()>> After;
    void RunAfter() {
        while (!After.empty()) {
            auto step = std::move(After.back());
            After.pop_back();
            step();
        }
    }
};

// Fixed window-system metrics (pixels), as the class library's callers expect them.
inline constexpr int SM_CXBORDER = 5, SM_CYBORDER = 6, SM_CXDLGFRAME = 7, SM_CYDLGFRAME = 8;
inline constexpr int SM_CXFRAME = 32, SM_CYFRAME = 33;
int GetSystemMetrics(int index);
