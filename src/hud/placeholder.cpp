// The readers arrive here; this keeps the library non-empty until they do.
namespace hud {
int placeholder() { return 0; }
} // namespace hud
