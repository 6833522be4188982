#pragma once
// Fonts that fit the designed layout.
//
// The windows are laid out in pixels for three Windows faces: MS Sans Serif (the windows' text),
// Courier New (the terminal view) and Comic Sans MS (the headings and the progress window).
// Linux has none of them, and its usual fallback is wider, so captions would be clipped in their
// fixed places. At start each face is mapped to a free face of about the same metrics:
//
//   MS Sans Serif  -> Liberation Sans                  (Debian package fonts-liberation)
//   Courier New    -> Liberation Mono                  (fonts-liberation)
//   Comic Sans MS  -> Comic Neue, then Liberation Sans (fonts-comic-neue)
//
// Where a substitute is still wider than the place the layout gives a caption, that control's
// font shrinks a pixel at a time until the caption fits; the text itself never changes. The room
// of a caption is
//   - a button's or a check box's contents, as the style draws them;
//   - a centred label's own box;
//   - for any other label, the width up to the next control on its row that will be shown, or up
//     to its parent's right edge.
//
//   install_font_substitutes()   once, before the windows are built.
//   fit_captions(window)         once the window's controls are laid out.

class QWidget;

void install_font_substitutes();

void fit_captions(QWidget& window);
