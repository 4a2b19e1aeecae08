#include "platform/gtk/LiveLabel.h"

#include <gtk/gtk-a11y.h>

namespace platform::gtk {
namespace {

AtkAttributeSet* (*labelAttributes)(AtkObject*) = nullptr;
void (*initialiseLabel)(AtkObject*, gpointer) = nullptr;

AtkAttributeSet* withAttribute(AtkAttributeSet* attributes, const char* name, const char* value) {
    auto* attribute = g_new(AtkAttribute, 1);
    attribute->name = g_strdup(name);
    attribute->value = g_strdup(value);
    return g_slist_append(attributes, attribute);
}

// The attributes that AT-SPI exposes for a live region, as a web page's status region has them.
AtkAttributeSet* liveAttributes(AtkObject* accessible) {
    AtkAttributeSet* attributes = labelAttributes(accessible);
    attributes = withAttribute(attributes, "live", "polite");
    attributes = withAttribute(attributes, "container-live", "polite");
    attributes = withAttribute(attributes, "atomic", "true");
    attributes = withAttribute(attributes, "container-atomic", "true");
    return attributes;
}

void initialiseLiveAccessible(AtkObject* accessible, gpointer data) {
    initialiseLabel(accessible, data);
    atk_object_set_role(accessible, ATK_ROLE_STATUSBAR);
}

GType liveAccessibleType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_LABEL_ACCESSIBLE, "TolvarLiveLabelAccessible", sizeof(GtkLabelAccessibleClass),
        [](gpointer klass, gpointer) {
            auto* objectClass = ATK_OBJECT_CLASS(klass);
            labelAttributes = objectClass->get_attributes;
            objectClass->get_attributes = liveAttributes;
            initialiseLabel = objectClass->initialize;
            objectClass->initialize = initialiseLiveAccessible;
        },
        sizeof(GtkLabelAccessible), nullptr, GTypeFlags(0));
    return type;
}

GType liveLabelType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_LABEL, "TolvarLiveLabel", sizeof(GtkLabelClass),
        [](gpointer klass, gpointer) {
            gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), liveAccessibleType());
        },
        sizeof(GtkLabel), nullptr, GTypeFlags(0));
    return type;
}

}  // namespace

Gtk::Label& createLiveLabel() {
    return *Gtk::manage(Glib::wrap(GTK_LABEL(gtk_widget_new(liveLabelType(), nullptr))));
}

}  // namespace platform::gtk
