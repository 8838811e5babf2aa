// A table of user-interface texts a form takes its captions from: Items holds the current
// texts (a translation may replace them), Originals the texts as the form was built, so a
// caption is looked up by its original text. GUI thread.
#pragma once

#include <cstdint>
#include <string>

#include "framework/Component.h"
#include "framework/StringList.h"

// The text of an entry that has none of its own.
inline constexpr const char* kUnusedText = "unused";

class TTextStorage : public framework::TComponent {
public:
    explicit TTextStorage(framework::TComponent* Owner);
    ~TTextStorage() override;

    const framework::TStringList& Items() const { return Items_; }
    framework::TStringList& Items() { return Items_; }
    const framework::TStringList& Originals() const { return Originals_; }
    // Items := a copy of Value (Originals stay those of the loaded form).
    void SetItems(const framework::TStringList& Value);

    // The current text of the entry whose original text is Key; Key itself when there is no
    // such entry, when Items has no text at its place, or when that text is "unused".
    std::string GetText(const std::string& Key) const;
    // Every entry of Items without an attached object becomes "unused" in both lists;
    // returns how many did.
    uint32_t MarkUnused();

protected:
    // The form finished building: the texts it set are the originals.
    void Loaded() override;

private:
    framework::TStringList Items_;
    framework::TStringList Originals_;
};
