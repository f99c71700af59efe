// Window-system key codes to the virtual-key numbers the input backend's key table is written in.
#include "Platform/Window.h"

#include <SDL2/SDL.h>

namespace Platform {

int32_t VirtualKeyFromKeyCode(int32_t keyCode) {
  // Letters come lower-case and digits as their characters; virtual keys use the upper-case letter.
  if (keyCode >= SDLK_a && keyCode <= SDLK_z) return 'A' + (keyCode - SDLK_a);
  if (keyCode >= SDLK_0 && keyCode <= SDLK_9) return '0' + (keyCode - SDLK_0);
  if (keyCode >= SDLK_F1 && keyCode <= SDLK_F12) return 112 + (keyCode - SDLK_F1);
  if (keyCode >= SDLK_F13 && keyCode <= SDLK_F24) return 124 + (keyCode - SDLK_F13);
  if (keyCode >= SDLK_KP_1 && keyCode <= SDLK_KP_9) return 97 + (keyCode - SDLK_KP_1);
  switch (keyCode) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 17;
    case SDLK_LALT:
    case SDLK_RALT: return 18;
    case SDLK_PAUSE: return 19;
    case SDLK_CAPSLOCK: return 20;
    case SDLK_ESCAPE: return 27;
    case SDLK_SPACE: return 32;
    case SDLK_PAGEUP: return 33;
    case SDLK_PAGEDOWN: return 34;
    case SDLK_END: return 35;
    case SDLK_HOME: return 36;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return 38;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return 40;
    case SDLK_PRINTSCREEN: return 44;
    case SDLK_INSERT: return 45;
    case SDLK_DELETE: return 46;
    case SDLK_LGUI: return 91;
    case SDLK_RGUI: return 92;
    case SDLK_APPLICATION: return 93;
    case SDLK_KP_0: return 96;
    case SDLK_KP_MULTIPLY: return 106;
    case SDLK_KP_PLUS: return 107;
    case SDLK_KP_MINUS: return 109;
    case SDLK_KP_PERIOD: return 110;
    case SDLK_KP_DIVIDE: return 111;
    case SDLK_NUMLOCKCLEAR: return 144;
    case SDLK_SCROLLLOCK: return 145;
    case SDLK_SEMICOLON: return 186;
    case SDLK_EQUALS: return 187;
    case SDLK_COMMA: return 188;
    case SDLK_MINUS: return 189;
    case SDLK_PERIOD: return 190;
    case SDLK_SLASH: return 191;
    case SDLK_BACKQUOTE: return 192;
    case SDLK_LEFTBRACKET: return 219;
    case SDLK_BACKSLASH: return 220;
    case SDLK_RIGHTBRACKET: return 221;
    case SDLK_QUOTE: return 222;
    default: return 0;
  }
}

}  // namespace Platform
