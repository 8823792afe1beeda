// Placeholder until the MFC subset lands; removed by it.
#include <afxwin.h>
