// An icon whose pictures are made when something first draws or measures it. The program icon and
// the buttons' standard icons decode a handful of PNG files each; made at start, that is a good
// part of the start-up, and most of them belong to windows that a run may never show.
#pragma once

#include <QIcon>
#include <functional>

namespace dv {

// `make` runs at most once per icon (copies of the icon share what it made), on the first draw,
// size query or pixmap. The icon counts as non-null from the start: wrap only icons that exist.
QIcon LazyIcon(std::function<QIcon()> make);

}  // namespace dv
