#include "platform/display/window/window_input.h"

#include "platform/user/window_tree.h"

namespace wce::display {

std::optional<KeyPress> MapKey(SDL_Keycode key, Uint16 modifiers) {
    const bool shift = (modifiers & KMOD_SHIFT) != 0;
    switch (key) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return KeyPress{VK_RETURN, shift};
        case SDLK_ESCAPE:
            return KeyPress{VK_ESCAPE, shift};
        case SDLK_TAB:
            return KeyPress{VK_TAB, shift};
        case SDLK_SPACE:
            return KeyPress{VK_SPACE, shift};
        case SDLK_UP:
            return KeyPress{VK_UP, shift};
        case SDLK_DOWN:
            return KeyPress{VK_DOWN, shift};
        case SDLK_LEFT:
            return KeyPress{VK_LEFT, shift};
        case SDLK_RIGHT:
            return KeyPress{VK_RIGHT, shift};
        case SDLK_HOME:
            return KeyPress{VK_HOME, shift};
        case SDLK_END:
            return KeyPress{VK_END, shift};
        case SDLK_PAGEUP:
            return KeyPress{VK_PRIOR, shift};
        case SDLK_PAGEDOWN:
            return KeyPress{VK_NEXT, shift};
        default:
            return std::nullopt;
    }
}

bool InjectHostInput(const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN) {
        const std::optional<KeyPress> k = MapKey(event.key.keysym.sym, event.key.keysym.mod);
        if (!k) return false;
        wce::user::InjectKey(k->vk, k->shift);
        return true;
    }
    // The renderer's logical size already turns host pixels into emulated-screen pixels.
    if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_LEFT) {
        const int x = event.button.x, y = event.button.y;
        if (x < 0 || y < 0 || x >= SCREEN_WIDTH || y >= SCREEN_HEIGHT) return false;
        wce::user::InjectClick(POINT{x, y});
        return true;
    }
    return false;
}

std::string TitleOf(const wce::user::WindowView& view) {
    return wce::user::Utf16ToUtf8(view.text);
}

}  // namespace wce::display
