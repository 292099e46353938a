// The handle owners close exactly what they hold, once.

#include <gtest/gtest.h>

#include <utility>
#include <windows.h>

#include "afxhandle.h"

namespace {

bool IsOpen(HANDLE h)
{
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) != FALSE;
}

} // namespace

TEST(HandleOwnerTest, ClosesWhatItHoldsOnResetMoveAndScopeEndButNotWhatItReleased)
{
    HANDLE first = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE kept = nullptr;
    {
        CKernelHandle a(first);
        EXPECT_TRUE(a.IsValid());
        a.Reset(second);
        EXPECT_FALSE(IsOpen(first));
        EXPECT_TRUE(IsOpen(second));

        CKernelHandle b(std::move(a));
        EXPECT_FALSE(a.IsValid());
        EXPECT_EQ(b.Get(), second);
        kept = b.Release();
        EXPECT_FALSE(b.IsValid());
        b.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        a = std::move(b);
        second = a.Get();
    }
    EXPECT_FALSE(IsOpen(second));
    EXPECT_TRUE(IsOpen(kept));
    ::CloseHandle(kept);

    // Both empty values of the system hold nothing, and closing nothing succeeds.
    CKernelHandle none(nullptr), invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(none || invalid);
    EXPECT_TRUE(none.Close());

    wchar_t dir[MAX_PATH];
    ASSERT_NE(::GetSystemDirectoryW(dir, MAX_PATH), 0u);
    WIN32_FIND_DATAW fd;
    lstrcatW(dir, L"\\*");
    CFindHandle find(::FindFirstFileW(dir, &fd));
    ASSERT_TRUE(find.IsValid());
    EXPECT_TRUE(find.Close());
    EXPECT_FALSE(find.IsValid());
}
