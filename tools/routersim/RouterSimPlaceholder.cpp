namespace routersim {
int placeholder() {
    return 0;
}
} // namespace routersim
