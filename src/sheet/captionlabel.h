#pragma once
// A caption of the main window that always shows whole: month names and words run longer in
// some languages and fonts than the design allowed for. The label keeps its place; it first
// grows to the right into the room it is given, then its font shrinks until the text fits.
// Nothing is ever cut or elided.
#include <QLabel>

#include <optional>

namespace corvantis::sheet {

class CaptionLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // The widest the label may grow to, in pixels; 0 keeps its design width.
    void setRoomToGrow(int maxWidth) { mMaxWidth = maxWidth; }
    // Sets the text and fits the label to it.
    void setCaption(const QString& text);
    // Fits the label to its current text (also done before each paint).
    void fit();
    // The text shows whole in the label as it stands.
    bool showsWhole() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    // Everything a fit depends on besides the design size and font, which are kept from the start.
    struct FitState {
        QString text;
        int width;
        QFont font;
        QMargins contents;
        int margin;
        int indent;
        int maxWidth;
        bool operator==(const FitState&) const = default;
    };
    FitState fitState() const;
    int textRoom(int width) const;
    int mMaxWidth = 0;
    int mDesignWidth = -1;
    QFont mDesignFont;
    bool mHasDesignFont = false;
    std::optional<FitState> mFitted;   // the label as the last fit left it
};

} // namespace corvantis::sheet
