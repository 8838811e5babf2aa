#include "app/TextStorage.h"

using namespace framework;

TTextStorage::TTextStorage(TComponent* Owner) : TComponent(Owner) {}

TTextStorage::~TTextStorage() { MarkUnused(); }

void TTextStorage::SetItems(const TStringList& Value) {
    Items_.Clear();
    for (int i = 0; i < Value.Count(); ++i) Items_.Add(Value[i], Value.Objects(i));
}

void TTextStorage::Loaded() {
    TComponent::Loaded();
    Originals_.Clear();
    for (int i = 0; i < Items_.Count(); ++i) Originals_.Add(Items_[i], Items_.Objects(i));
}

std::string TTextStorage::GetText(const std::string& Key) const {
    const int i = Originals_.IndexOf(Key);
    // A translated table may hold fewer texts than the originals: past its end, the key.
    if (i < 0 || i >= Items_.Count()) return Key;
    const std::string& text = Items_[i];
    return text == kUnusedText ? Key : text;
}

uint32_t TTextStorage::MarkUnused() {
    uint32_t count = 0;
    for (int i = 0; i < Items_.Count(); ++i) {
        if (Items_.Objects(i)) continue;
        Items_.SetStrings(i, kUnusedText);
        if (i < Originals_.Count()) Originals_.SetStrings(i, kUnusedText);
        ++count;
    }
    return count;
}
