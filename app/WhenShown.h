// Work that waits for a form's window to be on screen.
#pragma once

#include <chrono>
#include <functional>

class TCustomForm;

// Runs `action` once, in the turn after the form's window shows or is first exposed and
// `ready` holds (checked then, and once at the next turn in case it already does). After
// `limit` it runs regardless, so a window that stays hidden (started minimised) loses
// nothing. Nothing runs once the form is gone.
void WhenShown(TCustomForm* form, std::function<bool()> ready, std::chrono::milliseconds limit,
               std::function<void()> action);
