#include "LeaderRetry.h"

#include "KafkaClusterClient.h"

#include <QTimer>

#include <utility>

void LeaderRetry::afterBackoffAndRefresh(KafkaClusterClient& clusterClient, QObject* context, int backoffMs,
    std::function<bool()> stillWaiting, std::function<void()> resume)
{
    QTimer::singleShot(backoffMs, context,
        [&clusterClient, context, stillWaiting = std::move(stillWaiting), resume = std::move(resume)] {
            if (stillWaiting())
                clusterClient.refreshMetadata(context, [resume](const std::optional<KafkaError>&) { resume(); });
        });
}
