#include "test-dialog.h"

TestDialog::TestDialog(Engine& engine, QWidget* parent) : QDialog(parent), engine_(engine) {}
