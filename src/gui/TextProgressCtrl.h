#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace tarnflow {

// A flat progress bar in two colours that paints itself, with optional text whose colour
// changes where it crosses the bar's edge. Setting the position repaints only when the filled
// width changes by at least one pixel; a resize forgets the width. A bordered bar draws a
// one-pixel frame and fills the area inside it.
class CTextProgressCtrl : public QWidget {
    Q_OBJECT
  public:
    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    void SetRange(int minimum, int maximum);
    // The previous position; -1 (and nothing stored) before the widget is shown on screen.
    int SetPos(int position);
    int OffsetPos(int offset) { return SetPos(position_ + offset); }
    int StepIt() { return SetPos(position_ + step_); }
    int SetStep(int step) { return step_ = step; }
    int GetPos() const { return position_; }

    void SetBarColor(const QColor& c) { barColor_ = c; }
    void SetBackColor(const QColor& c) { backColor_ = c; }
    void SetTextColor(const QColor& c) { textColor_ = c; }
    void SetTextOnBarColor(const QColor& c) { textOnBarColor_ = c; }
    QColor GetBarColor() const { return barColor_; }
    QColor GetBackColor() const { return backColor_; }
    QColor GetTextColor() const { return textColor_; }
    QColor GetTextOnBarColor() const { return textOnBarColor_; }

    void SetBordered(bool on);
    bool IsBordered() const { return bordered_; }
    // The bar's area inside its border, if any.
    QRect ClientRect() const;

    void SetShowText(bool on);
    void SetText(const QString& text);
    QString Text() const { return text_; }
    // What the bar draws when text is on: the text, or "Download Complete %d%%" without one.
    QString DrawnText() const;

    // Paint events handled so far, for the redraw rule's tests.
    int PaintCount() const { return paints_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    double Fraction() const;
    int FilledWidth() const;

    int position_ = 0;
    int step_ = 1;
    int maximum_ = 100;
    int minimum_ = 0;
    QString text_;
    bool showText_ = false;
    bool bordered_ = false;
    int lastBarWidth_ = -1;
    QColor barColor_;
    QColor backColor_;
    QColor textColor_;
    QColor textOnBarColor_;
    int paints_ = 0;
};

}  // namespace tarnflow
