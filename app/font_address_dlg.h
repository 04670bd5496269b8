#pragma once
// "FONT DOWNLOAD": asks where in the handset's flash a font image is written. Only a whole
// address is taken: 1 to 8 hexadecimal digits, with or without 0x. Anything else keeps the
// dialog open with the field marked, since a misread address would overwrite the boot area.

#include <QDialog>
#include <cstdint>

#include "protocol/font_address.h"

class QLineEdit;

namespace kestrel {

class CFontAddressDlg : public QDialog {
    Q_OBJECT

public:
    // Shows the preset address in lower-case hexadecimal.
    explicit CFontAddressDlg(uint32_t dwAddress, QWidget* pParent = nullptr);

    uint32_t Address() const { return m_dwAddress; }
    bool IsFieldMarked() const { return m_bFieldMarked; }

    void accept() override;

private:
    void MarkField(bool bMarked);

    QLineEdit* m_editAddress;
    uint32_t m_dwAddress;
    bool m_bFieldMarked = false;
};

}  // namespace kestrel
