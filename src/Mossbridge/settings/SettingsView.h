#pragma once
// Draws the settings window's sections from what the view controller hands
// it: a header, the assigned pets with their pictures, the running
// applications and the permission rows. Main thread only.

#include <string>
#include <vector>

#include "Mossbridge/model/PetKind.h"
#include "platform/drawing/View.h"

namespace Mossbridge {

struct SettingsContent {
    struct Pet {
        PetKind kind = PetKind::robotV1;
        std::string text;
    };
    struct Row {
        std::string name;
        std::string status;
    };
    std::vector<Pet> pets;
    std::vector<std::string> applications;
    std::vector<Row> permissions;
};

class SettingsView final : public platform::View {
public:
    explicit SettingsView(const platform::Rect& frame) : View(frame) {}

    void setContent(SettingsContent content);
    const SettingsContent& content() const { return content_; }

    void draw(platform::Canvas& canvas, const platform::Rect& dirtyRect) override;

private:
    SettingsContent content_;
};

}  // namespace Mossbridge
