// Removed once the first window lands.
namespace fw {
int guiPlaceholder() {
    return 0;
}
} // namespace fw
