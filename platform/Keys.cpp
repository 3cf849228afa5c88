#include "Keys.h"

Word QtKeyToVirtualKey(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return Word(key);
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return Word(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return Word(VK_F1 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    default:
        return 0;
    }
}

int VirtualKeyToQtKey(Word key) {
    if (key >= 'A' && key <= 'Z') return Qt::Key_A + (key - 'A');
    if (key >= '0' && key <= '9') return Qt::Key_0 + (key - '0');
    if (key >= VK_F1 && key < VK_F1 + 24) return Qt::Key_F1 + (key - VK_F1);
    switch (key) {
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case 13:
        return Qt::Key_Return;
    case 9:
        return Qt::Key_Tab;
    case 8:
        return Qt::Key_Backspace;
    case 32:
        return Qt::Key_Space;
    case 33:
        return Qt::Key_PageUp;
    case 34:
        return Qt::Key_PageDown;
    case 35:
        return Qt::Key_End;
    case 36:
        return Qt::Key_Home;
    case 37:
        return Qt::Key_Left;
    case 38:
        return Qt::Key_Up;
    case 39:
        return Qt::Key_Right;
    case 40:
        return Qt::Key_Down;
    case 45:
        return Qt::Key_Insert;
    case 46:
        return Qt::Key_Delete;
    default:
        return 0;
    }
}
