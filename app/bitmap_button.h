#pragma once
// A button that shows pictures instead of a face: up, down and focused, from the program's
// button pictures, and a greyed form of the up picture while disabled. Its text is not
// drawn; it names the button for accessibility. The check state is the program's to set:
// a click does not change it.

#include <QAbstractButton>
#include <string>
#include <string_view>

namespace kestrel {

class CBitmapButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CBitmapButton(const QString& strText, QWidget* pParent = nullptr);

    // Takes the pictures NAME+"U", NAME+"D" and NAME+"F"; false, leaving the button without
    // pictures, when one of them does not exist.
    bool LoadBitmaps(std::string_view strName);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void nextCheckState() override {}

private:
    std::string m_strName;  // empty: no pictures
};

}  // namespace kestrel
