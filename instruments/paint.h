// Drawing helpers the instrument classes share: the dark panel style, the 5-by-7 dot font of
// the matrix and LCD displays, and the "assign and tell whether it changed" rule behind every
// setter. Internal to instruments/. User-interface thread only; nothing here fails.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <array>
#include <cstdint>

namespace nv::rack::paint {

// Stores `v` in `field`; true when that changed the field (the caller then repaints).
template <class T> bool assign(T& field, const T& v) {
    if (field == v) return false;
    field = v;
    return true;
}

// Script bytes as a person reads them.
QString shown(const QByteArray& bytes);

// Turns on antialiasing of shapes, text and pixmaps.
void prepare(QPainter& p);

// A bevelled dark housing filling `r` (rounded by `radius`), as instrument faces sit in.
void housing(QPainter& p, const QRectF& r, qreal radius);

// A recessed well (darker inside, lit lower edge) for displays and tracks.
void well(QPainter& p, const QRectF& r, qreal radius, const QColor& fill);

// A soft radial glow of `colour` around `centre`, fading out at `radius`.
void glow(QPainter& p, QPointF centre, qreal radius, const QColor& colour, int alpha = 150);

// A round lamp: dome shading of `colour`, a highlight, and a glow when `lit`.
void lamp(QPainter& p, QPointF centre, qreal radius, const QColor& colour, bool lit);

// The font of the dot displays: five columns of seven dots, bit 0 the top row. Accented
// Latin-1 letters fall back to their ASCII base letter; anything else outside printable
// ASCII shows as "?".
std::array<uint8_t, 5> glyph(char32_t c);

// Draws one glyph as round dots of pitch `pitch` with its top-left dot centre at `origin`.
void dotGlyph(QPainter& p, QPointF origin, qreal pitch, qreal dotRadius, char32_t c,
              const QColor& on, const QColor& off, bool roundDots);

// The text colour beside instruments.
QColor textColour(const QWidget* w);

} // namespace nv::rack::paint
