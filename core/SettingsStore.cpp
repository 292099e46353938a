#include "SettingsStore.h"

#include "DataFiles.h"
#include "SharedFunctions.h"
#include "XmlDocument.h"

void ReadHotKey(int& nVirtualKey, int& nModifiers)
{
    CXmlDocument doc;
    if (!doc.LoadFile(JoinPath(GetDataFolder(), L"init.xml")))
        return;
    doc.ResetPosition();
    if (!doc.FindChildElement(L"HotKey"))
        return;
    ParseDecimal(doc.GetChildAttribute(L"VirtualKeyCode"), nVirtualKey);
    ParseDecimal(doc.GetChildAttribute(L"keyModifiers"), nModifiers);
}
