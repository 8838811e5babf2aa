// The standard controls the forms are built from: panel, label, group box, check box,
// push button and picture. Buttons and check boxes are the system's BUTTON class; their
// clicks arrive reflected (CN_COMMAND) and run OnClick.
#pragma once

#include "framework/Controls.h"

namespace framework {

enum class TBevelCut { bvNone, bvLowered, bvRaised };

// A plain area with an optional bevel and a centred caption.
class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* owner);
    TBevelCut BevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut v) { bevelInner_ = v; Invalidate(); }
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut v) { bevelOuter_ = v; Invalidate(); }
    // Kept for forms that toggle it; the panel always paints its own colour.
    bool ParentBackground = false;

protected:
    void CreateParams(TCreateParams& p) override;
    void Paint(TCanvas& canvas) override;

private:
    TBevelCut bevelInner_ = TBevelCut::bvNone, bevelOuter_ = TBevelCut::bvRaised;
};

// Text on its parent's colour (or its own). AutoSize fits the window to the text.
class TLabel : public TWinControl {
public:
    explicit TLabel(TComponent* owner);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool v);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment a) { alignment_ = a; Invalidate(); }
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool v) { wordWrap_ = v; Invalidate(); }

protected:
    void CreateParams(TCreateParams& p) override;
    void WndProc(TMessage& m) override;
    void Paint(TCanvas& canvas) override;

private:
    void AdjustSize();
    bool autoSize_ = true, wordWrap_ = false;
    TAlignment alignment_ = TAlignment::taLeftJustify;
};

class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent* owner);

protected:
    void CreateParams(TCreateParams& p) override;
    void WndProc(TMessage& m) override;
};

class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TComponent* owner);
    bool Checked();
    // Changing the state from code does not run OnClick.
    void SetChecked(bool v);

protected:
    void CreateParams(TCreateParams& p) override;
    void CreatedWnd() override;
    void WndProc(TMessage& m) override;

private:
    bool checked_ = false;
};

// Modal results.
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7, mrAll = 8 };

class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    // Enter on the form clicks the default button, Esc the cancel button.
    bool Default() const { return default_; }
    void SetDefault(bool v);
    bool Cancel() const { return cancel_; }
    void SetCancel(bool v) { cancel_ = v; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int v) { modalResult_ = v; }
    // A click: the modal result goes to the form, then OnClick.
    void Click() override;

protected:
    void CreateParams(TCreateParams& p) override;
    void WndProc(TMessage& m) override;

private:
    bool default_ = false, cancel_ = false;
    int modalResult_ = mrNone;
};

// Shows a picture: at its top-left, centred or stretched; AutoSize fits the control to it.
class TImage : public TWinControl {
public:
    explicit TImage(TComponent* owner);
    TPicture& Picture() { return picture_; }
    bool Stretch = false;
    bool Center = false;
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool v);

protected:
    void CreateParams(TCreateParams& p) override;
    void Paint(TCanvas& canvas) override;

private:
    void PictureChanged();
    TPicture picture_;
    bool autoSize_ = false;
};

}  // namespace framework
