// The Statistics window's table of fine and corrected means with their
// uncertainties, one column per path (measurement/uncertaintytext.h words).
#pragma once

#include "measurement/runrecord.h"

class QTableWidget;
class QWidget;

QTableWidget *MakeUncertaintyTable(QWidget *parent);
void ShowUncertainty(QTableWidget *table, const RunRecord &run);
