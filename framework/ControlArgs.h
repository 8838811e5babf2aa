// Controls made from argument structs, so a form's constructor reads as its list of
// components:
//   MakeControl(ok_btn, this, TButtonArgs{.Name = "ok_btn", .Parent = this, .Bounds = {157, 253, 75, 25},
//                                         .Caption = "Ok", .Default = true, .ModalResult = mrOk});
// Every kind is named, given its own options and caption, placed and then parented, in that
// order; a caption left empty is not set (a new control has none).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "framework/StdCtrls.h"

namespace framework {

// Where a control goes in its parent: left and top edges, then width and height (not the
// right and bottom edges a RECT would hold).
struct TBounds {
    int X = 0, Y = 0, W = 0, H = 0;
};

// A font of the control's own, in place of its parent's; what is left unset keeps the
// default.
struct TFontArgs {
    std::string Name;
    int Size = 0;  // points
    unsigned Style = 0;  // fsBold, fsItalic, ...
    std::optional<TColor> Color;
};

struct TPanelArgs {
    using Control = TPanel;
    std::string Name;
    TWinControl* Parent = nullptr;
    TBounds Bounds;
    std::string Caption;
    std::optional<TColor> Color;
    TBevelCut BevelInner = TBevelCut::bvNone;
};

struct TGroupBoxArgs {
    using Control = TGroupBox;
    std::string Name;
    TWinControl* Parent = nullptr;
    TBounds Bounds;
    std::string Caption;
};

struct TLabelArgs {
    using Control = TLabel;
    std::string Name;
    TWinControl* Parent = nullptr;
    TBounds Bounds;
    std::string Caption;
    bool AutoSize = true;  // fits the label to its text, over Bounds' size
    std::optional<TFontArgs> Font;
};

struct TCheckBoxArgs {
    using Control = TCheckBox;
    std::string Name;
    TWinControl* Parent = nullptr;
    TBounds Bounds;
    std::string Caption;
    TNotifyEvent OnClick;
};

struct TButtonArgs {
    using Control = TButton;
    std::string Name;
    TWinControl* Parent = nullptr;
    TBounds Bounds;
    std::string Caption;
    bool Default = false;  // Enter on the form clicks it
    bool Cancel = false;   // Esc on the form clicks it
    int ModalResult = mrNone;
    TNotifyEvent OnClick;
};

struct TImageArgs {
    using Control = TImage;
    std::string Name;
    TWinControl* Parent = nullptr;
    TBounds Bounds;
    bool AutoSize = false;  // fits the control to its picture
    HICON Icon = nullptr;   // the picture, taken over by the control
};

// Each kind's own options, found by argument-dependent lookup so that kinds declared
// elsewhere (with their controls) bring their own.
inline void ApplyFont(TFont& f, const TFontArgs& a) {
    if (!a.Name.empty()) f.SetName(a.Name);
    if (a.Size) f.SetSize(a.Size);
    if (a.Style) f.SetStyle(a.Style);
    if (a.Color) f.SetColor(*a.Color);
}
inline void ApplyOptions(TPanel& c, const TPanelArgs& a) {
    if (a.Color) c.SetColor(*a.Color);
    if (a.BevelInner != TBevelCut::bvNone) c.SetBevelInner(a.BevelInner);
}
inline void ApplyOptions(TGroupBox&, const TGroupBoxArgs&) {}
inline void ApplyOptions(TLabel& c, const TLabelArgs& a) {
    if (!a.AutoSize) c.SetAutoSize(false);
    if (a.Font) {
        c.SetParentFont(false);
        ApplyFont(c.Font(), *a.Font);
    }
}
inline void ApplyOptions(TCheckBox&, const TCheckBoxArgs&) {}
inline void ApplyOptions(TButton& c, const TButtonArgs& a) {
    if (a.Default) c.SetDefault(true);
    if (a.Cancel) c.SetCancel(true);
    if (a.ModalResult != mrNone) c.SetModalResult(a.ModalResult);
}
inline void ApplyOptions(TImage& c, const TImageArgs& a) {
    if (a.AutoSize) c.SetAutoSize(true);
    if (a.Icon) c.Picture().Icon().SetHandle(a.Icon);
}

// Makes the control `args` describe, owned by `owner`, into `slot` (the form's member, set
// before the control is parented so handlers that look at it find it).
template <typename Args>
typename Args::Control& MakeControl(std::unique_ptr<typename Args::Control>& slot, TComponent* owner,
                                    const Args& args) {
    slot = std::make_unique<typename Args::Control>(owner);
    auto& c = *slot;
    c.SetName(args.Name);
    ApplyOptions(c, args);
    if constexpr (requires { args.Caption; }) {
        if (!args.Caption.empty()) c.SetCaption(args.Caption);
    }
    c.SetBounds(args.Bounds.X, args.Bounds.Y, args.Bounds.W, args.Bounds.H);
    c.SetParent(args.Parent);
    if constexpr (requires { args.OnClick; }) {
        if (args.OnClick) c.OnClick = args.OnClick;
    }
    return c;
}

}  // namespace framework
