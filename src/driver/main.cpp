#include "driver/program.h"
#include "process/process.h"

int main(int argc, char **argv) {
  process::captureArguments(argc, argv);
  process::endProcess(driver::programStart());
}
