// The memory floor: an empty program built and linked like d88extract.
int main() {
  return 0;
}
