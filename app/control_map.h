#pragma once
// A window's controls by id. Each control carries its id as the property "controlId", and
// its tooltip is the string resource of that id.

#include <QWidget>
#include <map>

namespace kestrel {

class CControlMap {
public:
    template <class T>
    T* Add(int nId, T* pControl)
    {
        m_controls[nId] = pControl;
        pControl->setProperty("controlId", nId);
        return pControl;
    }
    // Null for an id the window does not have.
    QWidget* Get(int nId) const;
    void SetToolTips() const;

private:
    std::map<int, QWidget*> m_controls;
};

}  // namespace kestrel
