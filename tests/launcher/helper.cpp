// Stands in for the stored terminal in the launcher's tests: prints its
// executable's path, its working folder and every argument, one a line.
#include <unistd.h>

#include <cstdio>

int main(int argc, char **argv) {
  char exe[4096], cwd[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  exe[n > 0 ? n : 0] = 0;
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
  printf("exe %s\ncwd %s\n", exe, cwd);
  for (int i = 0; i < argc; i++) printf("arg %s\n", argv[i]);
  return 0;
}
