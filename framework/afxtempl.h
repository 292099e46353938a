#pragma once
// CArray: a growable array with the class library's members; indexes are checked.

#include <vector>
#include <utility>
#include <windows.h>

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
public:
    CArray() = default;

    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_v.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    INT_PTR GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return m_v.empty(); }
    void SetSize(INT_PTR nNewSize) { m_v.resize(nNewSize > 0 ? nNewSize : 0); }
    void RemoveAll() { m_v.clear(); }

    // Out-of-range reads give a default value and out-of-range writes are ignored,
    // instead of touching memory that is not the array's.
    const TYPE& GetAt(INT_PTR i) const { return Valid(i) ? m_v[i] : Dummy(); }
    TYPE& ElementAt(INT_PTR i) { return Valid(i) ? m_v[i] : Dummy(); }
    void SetAt(INT_PTR i, ARG_TYPE v) { if (Valid(i)) m_v[i] = v; }
    const TYPE& operator[](INT_PTR i) const { return GetAt(i); }
    TYPE& operator[](INT_PTR i) { return ElementAt(i); }
    TYPE* GetData() { return m_v.empty() ? nullptr : m_v.data(); }
    const TYPE* GetData() const { return m_v.empty() ? nullptr : m_v.data(); }

    INT_PTR Add(ARG_TYPE v) { m_v.push_back(v); return GetSize() - 1; }
    void SetAtGrow(INT_PTR i, ARG_TYPE v)
    {
        if (i < 0)
            return;
        if (i >= GetSize())
            m_v.resize(i + 1);
        m_v[i] = v;
    }
    void InsertAt(INT_PTR i, ARG_TYPE v, INT_PTR nCount = 1)
    {
        if (i < 0 || nCount <= 0)
            return;
        if (i > GetSize())
            m_v.resize(i);
        m_v.insert(m_v.begin() + i, nCount, v);
    }
    void RemoveAt(INT_PTR i, INT_PTR nCount = 1)
    {
        if (!Valid(i) || nCount <= 0)
            return;
        INT_PTR end = i + nCount < GetSize() ? i + nCount : GetSize();
        m_v.erase(m_v.begin() + i, m_v.begin() + end);
    }
    INT_PTR Append(const CArray& src)
    {
        INT_PTR old = GetSize();
        m_v.insert(m_v.end(), src.m_v.begin(), src.m_v.end());
        return old;
    }
    void Copy(const CArray& src) { m_v = src.m_v; }

    typename std::vector<TYPE>::iterator begin() { return m_v.begin(); }
    typename std::vector<TYPE>::iterator end() { return m_v.end(); }
    typename std::vector<TYPE>::const_iterator begin() const { return m_v.begin(); }
    typename std::vector<TYPE>::const_iterator end() const { return m_v.end(); }

private:
    bool Valid(INT_PTR i) const { return i >= 0 && i < GetSize(); }
    // The stand-in element of an out-of-range access belongs to the array, so it lives and
    // dies with it on whatever thread uses the array (no thread-local objects with destructors).
    TYPE& Dummy() const
    {
        m_dummy = TYPE{};
        return m_dummy;
    }
    std::vector<TYPE> m_v;
    mutable TYPE m_dummy{};
};
