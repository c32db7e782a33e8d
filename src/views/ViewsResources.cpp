#include "ViewsResources.h"

#include <QtGlobal>

void initViewsResources()
{
    Q_INIT_RESOURCE(ViewsResources);
}
