#include "platform/TextLayout.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <memory>
#include <string>

#include "platform/CairoText.h"

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

FontPtr fontDescription(const Font& font) {
    FontPtr description(pango_font_description_new());
    pango_font_description_set_family(description.get(), "Sans");
    pango_font_description_set_absolute_size(description.get(), std::max(font.pointSize, 0.0) * PANGO_SCALE);
    PangoWeight weight = PANGO_WEIGHT_NORMAL;
    if (font.weight == FontWeight::semibold) weight = PANGO_WEIGHT_SEMIBOLD;
    if (font.weight == FontWeight::bold) weight = PANGO_WEIGHT_BOLD;
    pango_font_description_set_weight(description.get(), weight);
    return description;
}

void setText(PangoLayout* layout, std::string_view text, const Font& font) {
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    pango_layout_set_font_description(layout, fontDescription(font).get());
}

// Measuring needs no surface: one context per thread (Pango's font maps are
// per thread).
PangoContext* measuringContext() {
    thread_local std::unique_ptr<PangoContext, Deleter<void, unrefObject>> context([] {
        PangoContext* created = pango_font_map_create_context(pango_cairo_font_map_get_default());
        configure(created);
        return created;
    }());
    return context.get();
}

}  // namespace

Size measureText(std::string_view text, const Font& font) {
    LayoutPtr layout(pango_layout_new(measuringContext()));
    setText(layout.get(), text, font);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE};
}

void showText(cairo_t* cr, std::string_view text, const TextStyle& style, const Rect& box) {
    if (text.empty() || !(box.width() > 0)) return;
    LayoutPtr layout(pango_cairo_create_layout(cr));
    configure(pango_layout_get_context(layout.get()));
    pango_cairo_update_layout(cr, layout.get());
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
