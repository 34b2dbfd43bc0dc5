#pragma once
// Lets a window laid out from a fixed template be resized: each control keeps its template place, and
// the edges it is anchored to follow the window's right or bottom edge by as much as the window grew
// or shrank.
#include <QObject>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

class WindowAnchors : public QObject {
  public:
    enum Edge { MoveRight = 1, MoveDown = 2, GrowWide = 4, GrowTall = 8 };

    // Takes the window's present size as the template size; add controls before it is resized.
    explicit WindowAnchors(QWidget* window);
    void Add(QWidget* control, int edges);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Anchored {
        QWidget* control;
        QRect place;
        int edges;
    };
    void Apply(QSize size);

    QSize templateSize_;
    std::vector<Anchored> anchored_;
};
