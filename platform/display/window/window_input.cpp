#include "platform/display/window/window_input.h"

namespace wce::display {

std::optional<KeyPress> MapKey(SDL_Keycode key, Uint16 modifiers) {
    const bool shift = (modifiers & KMOD_SHIFT) != 0;
    switch (key) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return KeyPress{VK_RETURN, shift};
        case SDLK_ESCAPE: return KeyPress{VK_ESCAPE, shift};
        case SDLK_TAB: return KeyPress{VK_TAB, shift};
        case SDLK_SPACE: return KeyPress{VK_SPACE, shift};
        case SDLK_UP: return KeyPress{VK_UP, shift};
        case SDLK_DOWN: return KeyPress{VK_DOWN, shift};
        case SDLK_LEFT: return KeyPress{VK_LEFT, shift};
        case SDLK_RIGHT: return KeyPress{VK_RIGHT, shift};
        case SDLK_HOME: return KeyPress{VK_HOME, shift};
        case SDLK_END: return KeyPress{VK_END, shift};
        case SDLK_PAGEUP: return KeyPress{VK_PRIOR, shift};
        case SDLK_PAGEDOWN: return KeyPress{VK_NEXT, shift};
        default: return std::nullopt;
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

void AnswerAsAbsent() {
    if (!wce::user::InjectMessageBoxOk()) wce::user::InjectCaptionOk();
}

std::string TitleOf(const wce::user::WindowView& view) {
    std::string out;
    const std::u16string& t = view.text;
    for (size_t i = 0; i < t.size(); ++i) {
        char32_t c = t[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 &&
            t[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (t[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace wce::display
