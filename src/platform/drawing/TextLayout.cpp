#include "platform/drawing/TextLayout.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/drawing/CairoText.h"

namespace platform {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
void unrefObject(void* object) { g_object_unref(object); }
using LayoutPtr = std::unique_ptr<PangoLayout, Deleter<void, unrefObject>>;
using FontPtr = std::unique_ptr<PangoFontDescription, Deleter<PangoFontDescription, pango_font_description_free>>;

// Metrics are not hinted, so a text measures the same at every scale.
void configure(PangoContext* context) {
    pango_cairo_context_set_resolution(context, 72);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
}

// Descriptions are built once per font and thread.
const PangoFontDescription* fontDescription(const Font& font) {
    struct Entry {
        Font font;
        FontPtr description;
    };
    thread_local std::vector<Entry> cache;
    for (const auto& entry : cache)
        if (entry.font == font) return entry.description.get();
    FontPtr description(pango_font_description_new());
    pango_font_description_set_family(description.get(), "Sans");
    const double size = std::isfinite(font.pointSize) ? std::max(font.pointSize, 0.0) : 0.0;
    pango_font_description_set_absolute_size(description.get(), size * PANGO_SCALE);
    PangoWeight weight = PANGO_WEIGHT_NORMAL;
    if (font.weight == FontWeight::semibold) weight = PANGO_WEIGHT_SEMIBOLD;
    if (font.weight == FontWeight::bold) weight = PANGO_WEIGHT_BOLD;
    pango_font_description_set_weight(description.get(), weight);
    if (cache.size() >= 64) cache.clear();  // a handful of fonts are in use; never grow without bound
    cache.push_back({font, std::move(description)});
    return cache.back().description.get();
}

void setText(PangoLayout* layout, std::string_view text, const Font& font) {
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    pango_layout_set_font_description(layout, fontDescription(font));
}

// Creating a Pango context is costly: one for measuring and one for drawing
// per thread (Pango's font maps are per thread too).
PangoContext* sharedContext(bool forDrawing) {
    auto make = [] {
        PangoContext* created = pango_font_map_create_context(pango_cairo_font_map_get_default());
        configure(created);
        return std::unique_ptr<PangoContext, Deleter<void, unrefObject>>(created);
    };
    thread_local auto measuring = make();
    thread_local auto drawing = make();
    return forDrawing ? drawing.get() : measuring.get();
}

// Measurements of the few texts a pet shows, by text and font.
struct MeasureKey {
    std::string text;
    Font font;
    bool operator==(const MeasureKey&) const = default;
};
struct MeasureKeyHash {
    std::size_t operator()(const MeasureKey& key) const {
        return std::hash<std::string>{}(key.text) ^ (std::hash<double>{}(key.font.pointSize) * 31) ^
               static_cast<std::size_t>(key.font.weight);
    }
};

Size measureUncached(std::string_view text, const Font& font) {
    LayoutPtr layout(pango_layout_new(sharedContext(false)));
    setText(layout.get(), text, font);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE};
}

}  // namespace

Size measureText(std::string_view text, const Font& font) {
    thread_local std::unordered_map<MeasureKey, Size, MeasureKeyHash> cache;
    MeasureKey key{std::string(text), font};
    if (const auto it = cache.find(key); it != cache.end()) return it->second;
    const Size size = measureUncached(text, font);
    if (cache.size() >= 1024) cache.clear();
    cache.emplace(std::move(key), size);
    return size;
}

void showText(cairo_t* cr, std::string_view text, const TextStyle& style, const Rect& box) {
    if (text.empty() || !(box.width() > 0)) return;
    PangoContext* context = sharedContext(true);
    pango_cairo_update_context(cr, context);
    LayoutPtr layout(pango_layout_new(context));
    setText(layout.get(), text, style.font);
    pango_layout_set_width(layout.get(), static_cast<int>(box.width() * PANGO_SCALE));
    if (style.truncateTail) pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    switch (style.alignment) {
    case TextAlignment::left: pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT); break;
    case TextAlignment::center: pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER); break;
    case TextAlignment::right: pango_layout_set_alignment(layout.get(), PANGO_ALIGN_RIGHT); break;
    }

    cairo_save(cr);
    cairo_move_to(cr, box.minX(), box.minY());
    const Color& fill = style.foreground;
    if (style.strokeColor && style.strokeWidth != 0) {
        pango_cairo_layout_path(cr, layout.get());
        if (style.strokeWidth < 0) {
            cairo_set_source_rgba(cr, fill.red, fill.green, fill.blue, fill.alpha);
            cairo_fill_preserve(cr);
        }
        const Color& stroke = *style.strokeColor;
        cairo_set_source_rgba(cr, stroke.red, stroke.green, stroke.blue, stroke.alpha);
        cairo_set_line_width(cr, std::abs(style.strokeWidth) * style.font.pointSize / 100);
        cairo_stroke(cr);
    } else {
        cairo_set_source_rgba(cr, fill.red, fill.green, fill.blue, fill.alpha);
        pango_cairo_show_layout(cr, layout.get());
    }
    cairo_restore(cr);
}

}  // namespace platform

// Fontconfig, Pango and GLib keep process-lifetime caches of fonts and types
// that LeakSanitizer would report as leaks in any program that sets text;
// OpenSSL keeps its configuration and a random generator per thread for the
// life of the process (the application's analytics draws identifiers from
// it on its queue threads). This object is linked into every program that
// draws, so they all get these suppressions (the function is ignored without
// the sanitizer).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libcrypto.so\n"
           "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libharfbuzz.so\n";
}

// ...and the list of suppressions used is not printed at every exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
