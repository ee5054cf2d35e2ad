#include "gps/VariantArray.h"

#include <new>
#include <utility>

#include "base/Exception.h"

namespace {

// Values that own nothing, so clearing them is only setting VT_EMPTY.
bool HoldsPlainNumber(VARTYPE type) noexcept
{
    switch (type) {
    case VT_EMPTY:
    case VT_I4:
    case VT_R8:
    case VT_DATE:
    case VT_BOOL:
        return true;
    default:
        return false;
    }
}

} // namespace

CVariantArrayPool::~CVariantArrayPool()
{
    for (auto& arrays : m_free)
        for (SAFEARRAY* array : arrays)
            SafeArrayDestroy(array);
}

// A vector keeps its descriptor and elements in one allocation.
SAFEARRAY* CVariantArrayPool::Take(ULONG count) noexcept
{
    if (count <= c_largestCount) {
        if (auto& arrays = m_free[count]; !arrays.empty()) {
            SAFEARRAY* array = arrays.back();
            arrays.pop_back();
            return array;
        }
    }
    return SafeArrayCreateVector(VT_VARIANT, 0, count);
}

// What Take hands out, still in that shape: nobody holds it locked or has
// changed its bounds or element type.
bool CVariantArrayPool::IsReusable(const SAFEARRAY* array) noexcept
{
    return array->cDims == 1 && array->cLocks == 0 && array->cbElements == sizeof(VARIANT) &&
           (array->fFeatures & FADF_VARIANT) != 0 && array->rgsabound[0].lLbound == 0 &&
           array->rgsabound[0].cElements <= c_largestCount && array->pvData;
}

void CVariantArrayPool::Return(SAFEARRAY* array) noexcept
{
    if (!array)
        return;
    if (!IsReusable(array)) {
        SafeArrayDestroy(array);
        return;
    }
    const ULONG count = array->rgsabound[0].cElements;
    auto* elements = static_cast<VARIANT*>(array->pvData);
    for (ULONG i = 0; i < count; ++i) {
        VARIANT& element = elements[i];
        if (element.vt == (VT_ARRAY | VT_VARIANT))
            Return(element.parray);
        else if (!HoldsPlainNumber(element.vt))
            VariantClear(&element);
        element.vt = VT_EMPTY;
    }
    if (auto& arrays = m_free[count]; arrays.size() < c_keptPerCount) {
        try {
            arrays.push_back(array);
            return;
        } catch (const std::bad_alloc&) {
            // Not kept: destroyed below.
        }
    }
    SafeArrayDestroy(array);
}

CVariantArray::CVariantArray(ULONG count, CVariantArrayPool* pool) : m_pool(pool)
{
    m_array = pool ? pool->Take(count) : SafeArrayCreateVector(VT_VARIANT, 0, count);
    if (!m_array)
        ThrowHr(E_OUTOFMEMORY);
    m_elements = static_cast<VARIANT*>(m_array->pvData);
}

CVariantArray::~CVariantArray()
{
    if (m_array && m_pool)
        m_pool->Return(m_array);
    else if (m_array)
        SafeArrayDestroy(m_array);
}

void CVariantArray::Detach(VARIANT& target) noexcept
{
    VariantInit(&target);
    target.vt = VT_ARRAY | VT_VARIANT;
    target.parray = std::exchange(m_array, nullptr);
}
