// The GDI, paint and lock owners: what the DC holds after a scope, a handler that throws in
// the middle of one, and the scopes a control's paint runs in.
#include <gtest/gtest.h>

#include <stdexcept>

#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "framework/Handles.h"
#include "support/Pump.h"

using namespace framework;

namespace {

TEST(SelectScope, PutsTheDCsOwnObjectBackForEveryKindAlsoWhenLeftByAnException) {
    struct Case {
        const char* name;
        UINT kind;
        HGDIOBJ (*make)();
    };
    const Case cases[] = {
        {"pen", OBJ_PEN, [] { return static_cast<HGDIOBJ>(CreatePen(PS_SOLID, 3, RGB(1, 2, 3))); }},
        {"brush", OBJ_BRUSH, [] { return static_cast<HGDIOBJ>(CreateSolidBrush(RGB(4, 5, 6))); }},
        {"font", OBJ_FONT,
         [] { return static_cast<HGDIOBJ>(CreateFontA(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, "Arial")); }},
        {"bitmap", OBJ_BITMAP, [] { return static_cast<HGDIOBJ>(CreateBitmap(5, 5, 1, 1, nullptr)); }},
    };
    for (const Case& c : cases) {
        for (const bool throws : {false, true}) {
            TMemoryDC dc = CreateMemoryDC();
            ASSERT_TRUE(dc) << c.name;
            const HGDIOBJ own = GetCurrentObject(dc.get(), c.kind);
            TGdiObject obj(c.make());
            ASSERT_TRUE(obj) << c.name;
            try {
                TSelectObject sel(dc.get(), obj.get());
                EXPECT_EQ(sel.previous(), own) << c.name;
                EXPECT_EQ(GetCurrentObject(dc.get(), c.kind), obj.get()) << c.name;
                if (throws) throw std::runtime_error("draw failed");
            } catch (const std::runtime_error&) {
            }
            EXPECT_EQ(GetCurrentObject(dc.get(), c.kind), own) << c.name << (throws ? " thrown" : "");
        }
    }
    // Nothing to select: the DC is left as it was.
    TMemoryDC dc = CreateMemoryDC();
    const HGDIOBJ pen = GetCurrentObject(dc.get(), OBJ_PEN);
    {
        TSelectObject none(dc.get(), nullptr);
        EXPECT_EQ(none.previous(), nullptr);
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), pen);
}

TEST(Owners, EmptyUntilGivenAHandleAndMovingHandsItOver) {
    TMemoryDC none;
    EXPECT_FALSE(none);
    TMemoryDC dc = CreateMemoryDC();
    ASSERT_TRUE(dc);
    EXPECT_EQ(GetObjectType(dc.get()), static_cast<DWORD>(OBJ_MEMDC));
    TMemoryDC moved = std::move(dc);
    EXPECT_FALSE(dc);
    EXPECT_EQ(GetObjectType(moved.get()), static_cast<DWORD>(OBJ_MEMDC));

    TGdiObject brush(CreateSolidBrush(RGB(9, 9, 9)));
    const HGDIOBJ h = brush.get();
    brush.reset();
    EXPECT_EQ(GetObjectType(h), 0u) << "reset deletes what it held";
    TGdiObject kept(CreateSolidBrush(RGB(9, 9, 9)));
    const HGDIOBJ k = kept.release();
    kept.reset();
    EXPECT_EQ(GetObjectType(k), static_cast<DWORD>(OBJ_BRUSH)) << "a released object is the caller's";
    DeleteObject(k);

    UniqueWindowDC screen;
    ASSERT_TRUE(screen);
    EXPECT_GT(GetDeviceCaps(screen.get(), BITSPIXEL), 0);
}

TEST(LockScope, UnlocksOnEveryWayOut) {
    TBitmap bitmap(2, 2);
    TCanvas& canvas = bitmap.Canvas();
    {
        auto outer = LockScope(canvas);
        {
            auto inner = LockScope(canvas);
            EXPECT_EQ(canvas.LockCount(), 2);
        }
        EXPECT_EQ(canvas.LockCount(), 1);
    }
    EXPECT_EQ(canvas.LockCount(), 0);
    try {
        auto guard = LockScope(canvas);
        throw std::runtime_error("blit failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(canvas.LockCount(), 0);
}

// A control of our own window class whose painting can fail.
class TPaintingControl : public TWinControl {
public:
    using TWinControl::TWinControl;
    bool fail = false;
    int paints = 0;
    HDC paintedOn = nullptr;
    using TWinControl::PaintCanvas;

protected:
    void Paint(TCanvas& canvas) override {
        ++paints;
        paintedOn = canvas.Handle();
        if (fail) throw Exception("paint failed");
    }
};

TEST(PaintScope, APaintThatThrowsStillEndsThePaintAndFreesTheCanvas) {
    TForm form(nullptr);
    form.SetBounds(100, 100, 200, 150);
    TPaintingControl control(&form);
    control.SetBounds(10, 10, 80, 40);
    control.SetParent(&form);
    std::string caught;
    Application().OnException = [&](const std::exception& e) { caught = e.what(); };
    form.Show();
    for (const bool fail : {false, true}) {
        control.fail = fail;
        control.paints = 0;
        control.paintedOn = nullptr;
        InvalidateRect(control.Handle(), nullptr, FALSE);
        UpdateWindow(control.Handle());
        EXPECT_EQ(control.paints, 1) << "fail=" << fail;
        EXPECT_NE(control.paintedOn, nullptr) << "fail=" << fail;
        RECT r;
        EXPECT_FALSE(GetUpdateRect(control.Handle(), &r, FALSE)) << "the paint was ended; fail=" << fail;
        EXPECT_FALSE(control.PaintCanvas().HandleAllocated()) << "fail=" << fail;
    }
    Application().OnException = nullptr;
    EXPECT_EQ(caught, "paint failed");
}

}  // namespace
