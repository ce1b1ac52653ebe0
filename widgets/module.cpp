// Anchors the widget extension library; its subsystems add their own files beside this one.
namespace korvel::widgets {
const char* kWidgetModuleName = "KorvelWidgets";
}
