#pragma once
// "Kestrel 정보": the program's icon, the banner and who makes the program.

#include <QDialog>
#include <QString>

namespace kestrel {

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(const QString& strVersion, QWidget* pParent = nullptr);
};

}  // namespace kestrel
