// The metafile player for any QPainter: plays a metafile object (see
// gdi/metafile.h) with its frame mapped to a rectangle of the painter's
// coordinates, unantialiased. Image views that show a metafile at their
// own size paint through this. The same player is the one PlayEnhMetaFile
// plays into a DC with: a program that links this part of the layer has it
// from its start.
#pragma once

#include "gdi/metafile.h"

#include <QRectF>

class QPainter;

// Plays every record it knows; false for a null painter or metafile or an
// empty target. The painter's state is restored afterwards.
bool PlayMetafile(QPainter* painter, HENHMETAFILE mf, const QRectF& target);

// Makes PlayEnhMetaFile play through this player. It already does once the
// program links the player; a program that reaches metafiles only through
// PlayEnhMetaFile (the image classes' metafile codec) calls this to link it.
void InstallMetafilePlayer();
