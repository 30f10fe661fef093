#include "platform/cp866.h"

#include <array>

#include "platform/utf8.h"

namespace cabrix::platform {

namespace {

// 0xB0 to 0xDF: shades, lines and blocks.
constexpr std::array<char16_t, 48> kBoxDrawing{
    u'░', u'▒', u'▓', u'│', u'┤', u'╡', u'╢', u'╖', u'╕', u'╣', u'║', u'╗', u'╝', u'╜', u'╛', u'┐',
    u'└', u'┴', u'┬', u'├', u'─', u'┼', u'╞', u'╟', u'╚', u'╔', u'╩', u'╦', u'╠', u'═', u'╬', u'╧',
    u'╨', u'╤', u'╥', u'╙', u'╘', u'╒', u'╓', u'╫', u'╪', u'┘', u'┌', u'█', u'▄', u'▌', u'▐', u'▀'};

// 0xF0 to 0xFF: Ё ё Є є Ї ї Ў ў, then degree, bullet, middle dot, root, number sign, currency
// sign, black square and no-break space.
constexpr std::array<char16_t, 16> kTail{u'Ё', u'ё', u'Є', u'є', u'Ї', u'ї', u'Ў', u'ў',
                                         u'°', u'∙', u'·', u'√', u'№', u'¤', u'■', u'\u00A0'};

}  // namespace

char32_t Cp866ToUnicode(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xB0) return U'А' + (byte - 0x80);  // А..Я, а..п
  if (byte < 0xE0) return kBoxDrawing[byte - 0xB0];
  if (byte < 0xF0) return U'р' + (byte - 0xE0);  // р..я
  return kTail[byte - 0xF0];
}

std::string Cp866ToUtf8(std::string_view cp866) {
  std::string out;
  out.reserve(cp866.size() * 2);
  for (const char b : cp866) AppendUtf8(out, Cp866ToUnicode(static_cast<std::uint8_t>(b)));
  return out;
}

}  // namespace cabrix::platform
