// Reading one child of an accessible object as a screen reader does, for the test
// programs that look at the window from outside.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <string>

// The VARIANT that names one child (CHILDID_SELF is 0).
inline VARIANT childId(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// A child's name, empty when it gives none.
inline std::wstring accessibleName(IAccessible* object, long id) {
    BSTR name = nullptr;
    if (FAILED(object->get_accName(childId(id), &name)) || !name) return std::wstring();
    std::wstring text(name, SysStringLen(name));
    SysFreeString(name);
    return text;
}

// A child's role, state, name and screen rectangle; 0 and empty where it gives none.
struct AccessibleChild {
    long role = 0;
    long state = 0;
    std::wstring name;
    long left = 0, top = 0, width = 0, height = 0;
};

inline AccessibleChild readAccessibleChild(IAccessible* object, long id) {
    AccessibleChild out;
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(object->get_accRole(childId(id), &value)) && value.vt == VT_I4) out.role = value.lVal;
    VariantClear(&value);
    if (SUCCEEDED(object->get_accState(childId(id), &value)) && value.vt == VT_I4) out.state = value.lVal;
    VariantClear(&value);
    out.name = accessibleName(object, id);
    object->accLocation(&out.left, &out.top, &out.width, &out.height, childId(id));
    return out;
}
