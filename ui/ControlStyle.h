#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QKeySequence>
#include <QPixmap>
#include <QString>

class QWidget;

// What the styled controls share: monochrome images tinted with the palette,
// the HTML tool tip built from caption, shortcut and what's-this text, and the
// re-polish that lets style sheets follow dynamic properties.
class ControlStyle
{
public:
    // Makes the icon resources of this library available; the library is
    // linked statically, so nothing else would pull the resource object in.
    static void initResources();

    // Paints the colour over the image with source-in: the alpha stays, the
    // colour is replaced.
    static QImage tinted(const QImage &image, const QColor &color);
    static QPixmap tinted(const QPixmap &pixmap, const QColor &color);
    // Every offered size, in all four modes and both states.
    static QIcon tinted(const QIcon &icon, const QColor &color);
    // A resource image tinted with the colour; null if the resource is missing.
    static QPixmap tintedResource(const QString &path, const QColor &color);

    // The tool tip of a control: caption and shortcut as the headline, the
    // description below.
    static QString infoText(const QKeySequence &shortcut, const QString &caption, const QString &description);

    // Re-evaluates the style sheet after a dynamic property changed.
    static void repolish(QWidget *widget);
};
