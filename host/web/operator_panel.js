// The operator panel: changes the host's resources that the plug-in follows
// (the feature's configuration, the login session) and injects a store
// fulfilment notification, as the platform would.
import {
  FULFILMENT_CLASS, HostApi, NAMESPACE_URI, SESSION_URI, describeError,
} from './api.js';

const HUB_ENABLED_URI = `${NAMESPACE_URI}/HubEnabled`;
const THEMED_URI = `${NAMESPACE_URI}/ThemedBackground`;

// `page.themed()` and `page.namespace()` tell what the page knows now;
// `page.changed()` reads everything again after a change.
export function setUpOperatorPanel(api, page) {
  const $ = (id) => document.getElementById(id);
  const report = (text, isError = false) => {
    $('operator-result').textContent = text;
    $('operator-result').classList.toggle('error', isError);
  };
  const on = (id, label, action) => {
    const button = $(id);
    button.addEventListener('click', async () => {
      button.disabled = true;
      try {
        report(await action());
      } catch (error) {
        report(`${label} failed: ${describeError(error)}`, true);
      } finally {
        button.disabled = false;
        await page.changed();
      }
    });
  };
  const resource = HostApi.resource;

  on('enable', 'Enable', async () => {
    await api.put(resource(HUB_ENABLED_URI), true);
    return 'HubEnabled set to true';
  });
  on('disable', 'Disable', async () => {
    await api.put(resource(HUB_ENABLED_URI), false);
    return 'HubEnabled set to false';
  });
  on('toggle-themed', 'Themed background', async () => {
    const themed = !page.themed();
    await api.put(resource(THEMED_URI), themed);
    return `ThemedBackground set to ${themed}`;
  });

  on('switch-player', 'Switch player', async () => {
    const idToken = $('player-token').value.trim();
    if (!idToken) throw new Error('an id token is needed');
    // The session ends and a new one begins: the plug-in forgets the previous
    // player's service token and offers.
    try {
      await api.delete(resource(SESSION_URI));
    } catch (error) {
      if (error.status !== 404) throw error;
    }
    const summonerId = Date.now();
    await api.put(resource(SESSION_URI), {
      state: 'SUCCEEDED', summonerId, accountId: summonerId + 1, idToken, gasToken: {},
    });
    return `Signed in as ${idToken}`;
  });

  on('delete-config', 'Delete configuration', async () => {
    await api.delete(resource(NAMESPACE_URI));
    return 'Configuration deleted';
  });
  on('restore-config', 'Restore configuration', async () => {
    const namespace = page.namespace();
    if (!namespace) throw new Error('no configuration has been seen yet');
    await api.put(resource(NAMESPACE_URI), namespace);
    return 'Configuration restored';
  });

  on('inject-fulfilment', 'Fulfilment', async () => {
    const inventoryType = $('fulfilment-type').value;
    const itemId = Number.parseInt($('fulfilment-item').value, 10);
    if (!Number.isInteger(itemId)) throw new Error('the item id is a whole number');
    const data = inventoryType === 'CHAMPION'
      ? { championId: itemId, owned: true }
      : { championId: 0, owned: true, skinId: itemId };
    const answer = await api.post('/host/v1/lcds', {
      typeName: FULFILMENT_CLASS, body: { inventoryType, data },
    });
    return `${inventoryType} ${itemId} delivered to ${answer.subscriptions} subscription(s)`;
  });
}
