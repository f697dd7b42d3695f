#pragma once

#include <QByteArray>
#include <QString>

// Pictures the stand-in service hands out (avatars, the picture picker, game
// cards), drawn by us on first use: no artwork of anyone else is involved.
// Each name always yields the same PNG.
namespace PictureArt {

// "/static/pfp/<n>.png": a round-faced badge in a colour of its own.
QByteArray avatar(int number);
// "/static/dedicated/<key>.png" and "/static/games/<key>.png": a landscape
// scene in the palette the key picks; wide for cards, square for icons.
QByteArray scene(const QString &key, bool wide);

} // namespace PictureArt
